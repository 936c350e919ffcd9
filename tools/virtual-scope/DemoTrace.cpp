#include "DemoTrace.h"

#include "Picture.h"

#include <cmath>
#include <cstdlib>

namespace vscope {

namespace {

// Plot area inside the display, in pixels.
constexpr int kLeft = 10;
constexpr int kRight = 229; // inclusive
constexpr int kTop = 20;
constexpr int kBottom = 259;   // inclusive
constexpr int kDivisions = 10; // horizontal divisions
constexpr int kRows = 8;       // vertical divisions
constexpr int kPeriod = 176;   // pixels from one firing to the next

// Secondary voltage in divisions above the zero line at phase u (0 … kPeriod).
double Secondary(double u, double firing) {
    if (u < 2) // firing line: the voltage needed to jump the plug gap
        return firing * (u / 2.0);
    if (u < 4)
        return firing - (firing - 1.4) * ((u - 2) / 2.0);
    if (u < 40) // spark line, slowly rising as the gap's resistance grows
        return 1.1 + 0.012 * (u - 4);
    if (u < 44) // end of the spark: a small kick
        return 1.55 - 2.45 * ((u - 40) / 4.0);
    if (u < 84) // the coil's remaining energy rings down
        return -0.9 * std::exp(-(u - 44) / 12.0) * std::cos((u - 44) * 0.55);
    if (u < 118) // coil rests before the dwell starts
        return 0.0;
    if (u < 120) // dwell start: primary switched on
        return -0.7;
    if (u < 140)
        return 0.35 * std::exp(-(u - 120) / 6.0) * std::cos((u - 120) * 0.9);
    return 0.0;
}

void Line(Picture& picture, int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        picture.Set(x0, y0);
        if (x0 == x1 && y0 == y1)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

} // namespace

void DemoTrace::Draw(Picture& picture, std::uint64_t frameNumber) {
    picture.Clear();
    const int width = kRight - kLeft;
    const int height = kBottom - kTop;

    // Frame of the plot area and a dotted grid inside it.
    Line(picture, kLeft, kTop, kRight, kTop);
    Line(picture, kLeft, kBottom, kRight, kBottom);
    Line(picture, kLeft, kTop, kLeft, kBottom);
    Line(picture, kRight, kTop, kRight, kBottom);
    for (int d = 1; d < kDivisions; ++d) {
        const int x = kLeft + d * width / kDivisions;
        for (int y = kTop; y <= kBottom; y += 4)
            picture.Set(x, y);
    }
    for (int r = 1; r < kRows; ++r) {
        const int y = kTop + r * height / kRows;
        for (int x = kLeft; x <= kRight; x += 4)
            picture.Set(x, y);
    }
    // The scale: long ticks on the divisions, short ones on the fifths,
    // outside the plot area on the left and below it.
    for (int d = 0; d <= kDivisions * 5; ++d) {
        const int x = kLeft + d * width / (kDivisions * 5);
        const int len = d % 5 == 0 ? 5 : 2;
        Line(picture, x, kBottom + 2, x, kBottom + 1 + len);
    }
    for (int r = 0; r <= kRows * 5; ++r) {
        const int y = kTop + r * height / (kRows * 5);
        const int len = r % 5 == 0 ? 5 : 2;
        Line(picture, kLeft - 2, y, kLeft - 1 - len, y);
    }
    // Zero-line marker: a small arrow head on the right edge.
    const int zeroY = kTop + 6 * height / kRows;
    for (int i = 0; i < 4; ++i)
        Line(picture, kRight + 2 + i, zeroY - (3 - i), kRight + 2 + i, zeroY + (3 - i));

    // The trace: firing voltage wanders between cylinders, the picture drifts.
    const double divisionPixels = double(height) / kRows;
    const double firing =
        4.6 + 0.6 * std::sin(double(frameNumber) * 0.7) + 0.3 * std::sin(double(frameNumber) * 1.9);
    const int shift = int((frameNumber * 3) % kPeriod);
    int lastY = 0;
    for (int x = kLeft + 1; x < kRight; ++x) {
        double u = std::fmod(double(x - kLeft + shift), double(kPeriod));
        const int y = int(std::lround(zeroY - Secondary(u, firing) * divisionPixels));
        const int clamped = y < kTop + 1 ? kTop + 1 : (y > kBottom - 1 ? kBottom - 1 : y);
        if (x == kLeft + 1)
            lastY = clamped;
        Line(picture, x - 1 < kLeft + 1 ? x : x - 1, lastY, x, clamped);
        lastY = clamped;
    }
}

} // namespace vscope
