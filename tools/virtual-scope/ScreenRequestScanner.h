#pragma once

#include <cstddef>
#include <cstdint>

namespace vscope {

// Finds complete screen requests (0x51 0x42 0x0D) in a byte stream that may
// arrive in any pieces.
class ScreenRequestScanner {
  public:
    struct Result {
        std::size_t requests = 0;
        std::size_t ignored = 0; // bytes that can no longer become part of a request
    };
    Result Feed(const std::uint8_t* bytes, std::size_t count);
    void Reset() { m_matched = 0; }

  private:
    unsigned m_matched = 0;
};

} // namespace vscope
