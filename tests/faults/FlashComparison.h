// Compares what the virtual scope's flash holds with the image buffer as the
// sequencer sent it, block for block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FlashComparison {
  public:
    // Empty when the flash starts with exactly these bytes; else where and how it differs.
    static std::string Difference(const std::vector<std::uint8_t>& flash,
                                  const std::vector<std::uint8_t>& sent);
    static std::vector<std::uint8_t> ReadFile(const std::string& path);
};
