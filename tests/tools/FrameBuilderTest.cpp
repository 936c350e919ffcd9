#include "FrameBuilder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <numeric>

using vscope::FrameBuilder;

namespace {

std::vector<std::uint8_t> Frame(const std::string& picture, std::uint64_t n = 1, std::uint8_t fill = 0) {
    FrameBuilder builder;
    EXPECT_EQ(builder.Configure(picture, fill), "");
    return builder.Build(n);
}

// Frame bytes that are not 0, as offset -> value.
std::map<std::size_t, std::uint8_t> Set(const std::vector<std::uint8_t>& frame) {
    std::map<std::size_t, std::uint8_t> set;
    for (std::size_t i = 0; i < frame.size(); ++i)
        if (frame[i])
            set[i] = frame[i];
    return set;
}

std::string SaveImage(const QImage& image, const std::string& name) {
    const auto path = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / name;
    EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
    return path.string();
}

bool Dark(const std::vector<std::uint8_t>& frame, int x, int y) {
    const int line = 239 - x;
    return frame[std::size_t(10 + line * 35 + y / 8)] & (0x80 >> (y % 8));
}

}  // namespace

TEST(FrameBuilder, TestPatternsGiveTheExactBytes) {
    using Map = std::map<std::size_t, std::uint8_t>;
    EXPECT_EQ(Frame("pattern:blank").size(), 8410u);
    EXPECT_EQ(Set(Frame("pattern:blank")), Map{});
    EXPECT_EQ(Set(Frame("pattern:first-pixel")), (Map{{10, 0x80}}));
    EXPECT_EQ(Set(Frame("pattern:line1-first")), (Map{{45, 0x80}}));
    EXPECT_EQ(Set(Frame("pattern:last-pixel")), (Map{{8409, 0x01}}));
    const auto full = Frame("pattern:full", 1, 0x33);
    EXPECT_TRUE(std::all_of(full.begin(), full.begin() + 10, [](auto b) { return b == 0x33; }));
    EXPECT_TRUE(std::all_of(full.begin() + 10, full.end(), [](auto b) { return b == 0xFF; }));

    const auto checker = Frame("pattern:checker");
    for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {239, 279}, {100, 50}})
        EXPECT_TRUE(Dark(checker, x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {239, 278}})
        EXPECT_FALSE(Dark(checker, x, y)) << x << "," << y;

    const auto c1 = Frame("pattern:counter", 1), c2 = Frame("pattern:counter", 0x01020304);
    EXPECT_EQ(std::vector<std::uint8_t>(c2.begin(), c2.begin() + 4),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_NE(std::vector<std::uint8_t>(c1.begin() + 10, c1.end()),
              std::vector<std::uint8_t>(c2.begin() + 10, c2.end()));

    FrameBuilder builder;
    EXPECT_NE(builder.Configure("pattern:zebra", 0), "");
    EXPECT_NE(builder.Configure("/nonexistent/picture.png", 0), "");
}

TEST(FrameBuilder, PictureFilePixelsLandOnTheirLineAndBit) {
    QImage image(240, 280, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(0, 0, qRgb(0, 0, 0));        // line 239, bit 0
    image.setPixel(239, 279, qRgb(30, 30, 30));  // line 0, bit 279
    image.setPixel(5, 9, qRgb(200, 200, 200));   // light grey stays light
    const auto frame = Frame(SaveImage(image, "pixels.png"));
    EXPECT_EQ(Set(frame), (std::map<std::size_t, std::uint8_t>{{10 + 239 * 35, 0x80}, {10 + 34, 0x01}}));
}

TEST(FrameBuilder, PictureFilesAreScaledToTheDisplayAndTransparencyIsLight) {
    QImage small(4, 4, QImage::Format_ARGB32);
    small.fill(qRgba(0, 0, 0, 0));  // transparent: background
    small.setPixel(0, 0, qRgba(0, 0, 0, 255));
    small.setPixel(0, 1, qRgba(0, 0, 0, 255));
    small.setPixel(0, 2, qRgba(0, 0, 0, 255));
    small.setPixel(0, 3, qRgba(0, 0, 0, 255));
    const auto frame = Frame(SaveImage(small, "small.png"));
    for (int y : {0, 140, 279}) {
        EXPECT_TRUE(Dark(frame, 0, y));
        EXPECT_TRUE(Dark(frame, 40, y));
        EXPECT_FALSE(Dark(frame, 100, y));
        EXPECT_FALSE(Dark(frame, 239, y));
    }
}

TEST(FrameBuilder, DemoIsAPictureThatMovesFromFrameToFrame) {
    const auto a = Frame("demo", 1), b = Frame("demo", 2);
    ASSERT_EQ(a.size(), 8410u);
    const auto dark = [](const std::vector<std::uint8_t>& f) {
        return std::accumulate(f.begin() + 10, f.end(), 0, [](int s, std::uint8_t v) {
            return s + __builtin_popcount(v);
        });
    };
    // A drawn trace on a sparse grid: neither empty nor mostly dark.
    EXPECT_GT(dark(a), 1500);
    EXPECT_LT(dark(a), 67200 / 5);
    EXPECT_NE(a, b);
}
