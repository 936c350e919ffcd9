#include "FrameBuilder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <numeric>

using vscope::FrameBuilder;
using Map = std::map<std::size_t, std::uint8_t>;

namespace {

std::vector<std::uint8_t> Frame(const std::string& picture, std::uint64_t n = 1, std::uint8_t fill = 0) {
    FrameBuilder builder;
    EXPECT_EQ(builder.Configure(picture, fill), "");
    return builder.Build(n);
}

// Frame bytes that are not 0, as offset -> value.
Map Set(const std::vector<std::uint8_t>& frame) {
    Map set;
    for (std::size_t i = 0; i < frame.size(); ++i)
        if (frame[i])
            set[i] = frame[i];
    return set;
}

} // namespace

TEST(FrameBuilder, TestPatternsGiveTheExactBytes) {
    EXPECT_EQ(Set(Frame("pattern:blank")), Map{});
    EXPECT_EQ(Set(Frame("pattern:first-pixel")), (Map{{10, 0x80}}));
    EXPECT_EQ(Set(Frame("pattern:line1-first")), (Map{{45, 0x80}}));
    EXPECT_EQ(Set(Frame("pattern:last-pixel")), (Map{{8409, 0x01}}));
    const auto full = Frame("pattern:full", 1, 0x33);
    EXPECT_TRUE(std::all_of(full.begin(), full.begin() + 10, [](auto b) { return b == 0x33; }));
    EXPECT_TRUE(std::all_of(full.begin() + 10, full.end(), [](auto b) { return b == 0xFF; }));

    // Picture (0, 0) is dark and neighbours alternate: line 239 starts 1010...
    const auto checker = Frame("pattern:checker");
    for (std::size_t i = 10; i < checker.size(); ++i)
        ASSERT_EQ(checker[i], (i - 10) / 35 % 2 ? 0xAA : 0x55) << "byte " << i;

    // Frame n: n big-endian in the header, column (n - 1) mod 240 dark; here column 99, line 140.
    Map counter{{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    for (std::size_t i = 0; i < 35; ++i)
        counter[10 + 140 * 35 + i] = 0xFF;
    EXPECT_EQ(Set(Frame("pattern:counter", 0x01020304)), counter);

    FrameBuilder builder;
    EXPECT_NE(builder.Configure("pattern:zebra", 0), "");
    EXPECT_NE(builder.Configure("/nonexistent/picture.png", 0), "");
}

TEST(FrameBuilder, PictureFilePixelsLandOnTheirLineAndBit) {
    QImage image(240, 280, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 0, 0));                    // transparent shows as the light background
    image.setPixel(0, 0, qRgba(0, 0, 0, 255));        // line 239, bit 0
    image.setPixel(239, 279, qRgba(30, 30, 30, 255)); // line 0, bit 279
    image.setPixel(5, 9, qRgba(200, 200, 200, 255));  // light grey stays light
    const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/pixels.png";
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
    EXPECT_EQ(Set(Frame(path)), (Map{{10 + 239 * 35, 0x80}, {10 + 34, 0x01}}));
}

TEST(FrameBuilder, DemoIsAPictureThatMovesFromFrameToFrame) {
    const auto a = Frame("demo", 1), b = Frame("demo", 2);
    ASSERT_EQ(a.size(), 8410u);
    const int dark = std::accumulate(a.begin() + 10, a.end(), 0,
                                     [](int s, std::uint8_t v) { return s + __builtin_popcount(v); });
    // A drawn trace on a sparse grid: neither empty nor mostly dark.
    EXPECT_GT(dark, 1500);
    EXPECT_LT(dark, 67200 / 5);
    EXPECT_NE(a, b);
}
