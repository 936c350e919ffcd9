#include "PrintLayout.h"

#include <cstdint>

namespace capture {

QRect PrintedPictureRect(int printableWidth, int printableHeight) {
    // 32-bit integer arithmetic, each product before its division, truncating.
    std::int32_t w = (2 * printableWidth - 20) / 3;
    std::int32_t h = (2 * printableHeight - 20) / 3;
    const std::int32_t a = h * 240 / 280;
    if (a > w)
        h = w * 280 / 240;
    else
        w = a;
    if (w < 0 || h < 0)
        w = h = 0;
    return {5, 5, w, h};
}

} // namespace capture
