#include "Picture.h"

namespace vscope {

std::vector<std::uint8_t> Picture::ToFrame(const Header& header) const {
    std::vector<std::uint8_t> frame(kFrameBytes, 0);
    for (int i = 0; i < kHeaderBytes; ++i)
        frame[std::size_t(i)] = header[std::size_t(i)];
    for (int line = 0; line < kWidth; ++line) {
        const int x = kWidth - 1 - line;
        std::uint8_t* out = frame.data() + kHeaderBytes + line * kLineBytes;
        for (int p = 0; p < kHeight; ++p) {
            if (At(x, p))
                out[p / 8] |= std::uint8_t(0x80u >> (p % 8));
        }
    }
    return frame;
}

} // namespace vscope
