#include "FrameBuilder.h"

#include "DemoTrace.h"
#include "PictureFile.h"

namespace vscope {

namespace {

// The counter pattern's frame number: big-endian in the first header bytes.
constexpr int kCounterBytes = 4;

// Byte i of value, big-endian, counted from the most significant of width bytes.
std::uint8_t BigEndianByte(std::uint64_t value, int i, int width) {
    return std::uint8_t(value >> (8 * (width - 1 - i)));
}

// Every line holds the frame number, big-endian, then its complement,
// repeated: a picture stitched from two replies, or shifted by a byte, shows
// lines that disagree.
std::vector<std::uint8_t> SequenceFrame(const Picture::Header& header, std::uint64_t frameNumber) {
    constexpr int kWordBytes = 4;
    std::vector<std::uint8_t> frame = Picture().ToFrame(header);
    for (int line = 0; line < Picture::kWidth; ++line) {
        std::uint8_t* out = frame.data() + Picture::kHeaderBytes + line * Picture::kLineBytes;
        for (int i = 0; i < Picture::kLineBytes; ++i) {
            const bool complement = (i / kWordBytes) % 2 == 1;
            const std::uint32_t word = complement ? ~std::uint32_t(frameNumber) : std::uint32_t(frameNumber);
            out[i] = BigEndianByte(word, i % kWordBytes, kWordBytes);
        }
    }
    return frame;
}

} // namespace

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
    Picture::Header header;
    header.fill(m_headerFill);
    if (m_source == Source::File)
        return m_file.ToFrame(header);
    if (m_source == Source::Sequence)
        return SequenceFrame(header, frameNumber);
    // Line 0 of a frame is the rightmost column, so the frame's first picture
    // bit is the top-right pixel and its last the bottom-left one.
    constexpr int kRight = Picture::kWidth - 1;
    constexpr int kBottom = Picture::kHeight - 1;
    Picture picture;
    switch (m_source) {
    case Source::Demo:
        DemoTrace::Draw(picture, frameNumber);
        break;
    case Source::Full:
    case Source::Checker:
        for (int y = 0; y < Picture::kHeight; ++y)
            for (int x = 0; x < Picture::kWidth; ++x)
                picture.Set(x, y, m_source == Source::Full || (x + y) % 2 == 0);
        break;
    case Source::FirstPixel:
        picture.Set(kRight, 0);
        break;
    case Source::Line1First:
        picture.Set(kRight - 1, 0);
        break;
    case Source::LastPixel:
        picture.Set(0, kBottom);
        break;
    case Source::Counter: {
        // The frame number in the header, and a dark column that steps one
        // pixel to the right with every frame.
        for (int i = 0; i < kCounterBytes; ++i)
            header[std::size_t(i)] = BigEndianByte(frameNumber, i, kCounterBytes);
        const int x = int((frameNumber - 1) % Picture::kWidth);
        for (int y = 0; y < Picture::kHeight; ++y)
            picture.Set(x, y);
        break;
    }
    default:
        break;
    }
    return picture.ToFrame(header);
}

} // namespace vscope
