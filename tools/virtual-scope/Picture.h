#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vscope {

// The scope's display as a person sees it: 240 pixels wide, 280 high,
// x left to right, y top to bottom; true = dark.
class Picture {
  public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 280;
    static constexpr int kFrameBytes = 8410;
    static constexpr int kHeaderBytes = 10;
    static constexpr int kLineBytes = 35;
    using Header = std::array<std::uint8_t, kHeaderBytes>;

    void Clear() { m_dark.fill(false); }
    void Set(int x, int y, bool dark = true) {
        if (x >= 0 && x < kWidth && y >= 0 && y < kHeight)
            m_dark[std::size_t(y * kWidth + x)] = dark;
    }
    bool At(int x, int y) const { return m_dark[std::size_t(y * kWidth + x)]; }

    // The screen reply: 10 header bytes, then line L = 239 - x carries the
    // column x from top (bit 0, the most significant bit of its first byte)
    // to bottom.
    std::vector<std::uint8_t> ToFrame(const Header& header) const;

  private:
    std::array<bool, std::size_t(kWidth) * kHeight> m_dark{};
};

} // namespace vscope
