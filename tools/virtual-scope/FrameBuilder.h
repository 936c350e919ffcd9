#pragma once

#include "Picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vscope {

// Builds the 8410-byte screen replies of the screen firmware from the chosen
// picture: the live demo, a picture file, or a fixed test pattern.
class FrameBuilder {
  public:
    enum class Source {
        Demo,
        File,
        Blank,
        Full,
        FirstPixel,
        Line1First,
        LastPixel,
        Checker,
        Counter,
        Sequence
    };

    // Parses demo | FILE | pattern:NAME and loads a file at once, so a bad
    // file is reported before the device appears. Empty on success.
    std::string Configure(const std::string& pictureOption, std::uint8_t headerFill);

    // frameNumber counts screen replies from 1.
    std::vector<std::uint8_t> Build(std::uint64_t frameNumber) const;

    static const char* PatternNames();

  private:
    Source m_source = Source::Demo;
    std::uint8_t m_headerFill = 0;
    Picture m_file;
};

} // namespace vscope
