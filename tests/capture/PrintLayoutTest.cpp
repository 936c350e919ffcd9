// Picture size and place on the printed page, from the printable area in device pixels.
#include "PrintLayout.h"

#include <gtest/gtest.h>

TEST(PrintedPictureRect, PageSizes) {
    struct Case {
        int W, H, x, y, w, h;
    };
    const Case cases[] = {
        {2480, 3508, 5, 5, 1646, 1920}, // width is the limit
        {4960, 7016, 5, 5, 3300, 3850},
        {7016, 4960, 5, 5, 2828, 3300}, // height is the limit
        {10, 10, 5, 5, 0, 0},
        {0, 0, 5, 5, 0, 0},
        {1, 1, 5, 5, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(capture::PrintedPictureRect(c.W, c.H), QRect(c.x, c.y, c.w, c.h)) << c.W << " x " << c.H;
    }
}
