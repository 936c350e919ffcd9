#include "FrameBuilder.h"

#include "DemoTrace.h"
#include "PictureFile.h"

#include <array>

namespace vscope {

const char* FrameBuilder::PatternNames() {
    return "blank, full, first-pixel, line1-first, last-pixel, checker, counter, sequence";
}

std::string FrameBuilder::Configure(const std::string& option, std::uint8_t headerFill) {
    m_headerFill = headerFill;
    if (option == "demo") {
        m_source = Source::Demo;
        return {};
    }
    const std::string prefix = "pattern:";
    if (option.compare(0, prefix.size(), prefix) == 0) {
        const std::string name = option.substr(prefix.size());
        static const std::pair<const char*, Source> kPatterns[] = {{"blank", Source::Blank},
                                                                   {"full", Source::Full},
                                                                   {"first-pixel", Source::FirstPixel},
                                                                   {"line1-first", Source::Line1First},
                                                                   {"last-pixel", Source::LastPixel},
                                                                   {"checker", Source::Checker},
                                                                   {"counter", Source::Counter},
                                                                   {"sequence", Source::Sequence}};
        for (const auto& [patternName, source] : kPatterns) {
            if (name == patternName) {
                m_source = source;
                return {};
            }
        }
        return "unknown test pattern '" + name + "'; known patterns: " + PatternNames();
    }
    m_source = Source::File;
    return PictureFile::Load(option, m_file);
}

std::vector<std::uint8_t> FrameBuilder::Build(std::uint64_t frameNumber) const {
    std::array<std::uint8_t, 10> header;
    header.fill(m_headerFill);
    Picture picture;
    switch (m_source) {
    case Source::Demo:
        DemoTrace::Draw(picture, frameNumber);
        return picture.ToFrame(header);
    case Source::File:
        return m_file.ToFrame(header);
    case Source::Checker:
        for (int y = 0; y < Picture::kHeight; ++y)
            for (int x = 0; x < Picture::kWidth; ++x)
                picture.Set(x, y, (x + y) % 2 == 0);
        return picture.ToFrame(header);
    case Source::Counter: {
        // The frame number, big-endian, in header bytes 0-3, and a dark
        // column that steps one pixel to the right with every frame.
        for (int i = 0; i < 4; ++i)
            header[std::size_t(i)] = std::uint8_t(frameNumber >> (24 - 8 * i));
        const int x = int((frameNumber - 1) % Picture::kWidth);
        for (int y = 0; y < Picture::kHeight; ++y)
            picture.Set(x, y);
        return picture.ToFrame(header);
    }
    default:
        break;
    }
    std::vector<std::uint8_t> frame = picture.ToFrame(header);
    switch (m_source) {
    case Source::Full:
        for (std::size_t i = Picture::kHeaderBytes; i < frame.size(); ++i)
            frame[i] = 0xFF;
        break;
    case Source::FirstPixel:
        frame[10] = 0x80;
        break;
    case Source::Line1First:
        frame[45] = 0x80;
        break;
    case Source::LastPixel:
        frame[8409] = 0x01;
        break;
    case Source::Sequence:
        // Every line holds the frame number, big-endian, then its complement,
        // repeated: a picture stitched from two replies, or shifted by a byte,
        // shows lines that disagree.
        for (int line = 0; line < Picture::kWidth; ++line) {
            std::uint8_t* out = frame.data() + Picture::kHeaderBytes + line * Picture::kLineBytes;
            for (int i = 0; i < Picture::kLineBytes; ++i) {
                const std::uint32_t word =
                    (i / 4) % 2 == 0 ? std::uint32_t(frameNumber) : ~std::uint32_t(frameNumber);
                out[i] = std::uint8_t(word >> (24 - 8 * (i % 4)));
            }
        }
        break;
    default:
        break;
    }
    return frame;
}

} // namespace vscope
