#include "BootPacketParser.h"
#include "ScreenRequestScanner.h"

#include <gtest/gtest.h>

using vscope::BootPacket;
using vscope::BootPacketParser;
using vscope::ScreenRequestScanner;

namespace {

std::vector<std::uint8_t> DataPacket(unsigned block, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> p(data.size() + 7);
    p[0] = 0x02;
    p[1] = 0xFD;
    p[2] = std::uint8_t(block >> 8);
    p[3] = std::uint8_t(block);
    p[4] = std::uint8_t(data.size() >> 8);
    p[5] = std::uint8_t(data.size());
    std::copy(data.begin(), data.end(), p.begin() + 6);
    p.back() = 0x03;
    return p;
}

}  // namespace

TEST(BootPacketParser, ReassemblesPacketsSplitAnywhere) {
    // Data full of start and end markers must be taken by length, not by value.
    std::vector<std::uint8_t> data(2048);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = (i % 3 == 0) ? 0x02 : (i % 3 == 1 ? 0x03 : std::uint8_t(i));
    std::vector<std::uint8_t> stream{0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03};
    const auto program = DataPacket(291, data);
    stream.insert(stream.end(), program.begin(), program.end());
    stream.insert(stream.end(), {0x02, 0xFE, 0x00, 0x03, 0x00, 0x00, 0x03});

    for (std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(1000), stream.size()}) {
        BootPacketParser parser;
        std::vector<BootPacket> packets;
        std::size_t ignored = 0;
        for (std::size_t at = 0; at < stream.size(); at += piece)
            ignored += parser.Feed(stream.data() + at, std::min(piece, stream.size() - at), packets);
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_EQ(ignored, 0u);
        ASSERT_EQ(packets.size(), 3u);
        EXPECT_EQ(packets[0].code, 0xFF);
        EXPECT_EQ(packets[1].code, 0xFD);
        EXPECT_EQ(packets[1].address, 291u);
        EXPECT_EQ(packets[1].length, 2048u);
        EXPECT_EQ(packets[1].data, data);
        EXPECT_FALSE(packets[1].framingError);
        EXPECT_EQ(packets[2].code, 0xFE);
        EXPECT_EQ(packets[2].address, 3u);
    }
}

TEST(BootPacketParser, SkipsGarbageAndFlagsBadEndMarkers) {
    BootPacketParser parser;
    std::vector<BootPacket> packets;
    const std::vector<std::uint8_t> stream{0x41, 0x00, 0x03,                          // garbage
                                           0x02, 0xFC, 0x00, 0x01, 0x00, 0x00, 0x04,  // bad end
                                           0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03};
    EXPECT_EQ(parser.Feed(stream.data(), stream.size(), packets), 3u);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_TRUE(packets[0].framingError);
    EXPECT_EQ(packets[0].code, 0xFC);
    EXPECT_FALSE(packets[1].framingError);
    EXPECT_EQ(packets[1].code, 0xFF);

    // An impossible length is a framing error at once, so the next command
    // is still understood.
    packets.clear();
    const std::vector<std::uint8_t> huge{0x02, 0xFD, 0x00, 0x00, 0xFF, 0xFF,
                                         0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03};
    parser.Feed(huge.data(), huge.size(), packets);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_TRUE(packets[0].framingError);
    EXPECT_EQ(packets[1].code, 0xFF);
}

TEST(ScreenRequestScanner, CountsRequestsAndIgnoresEverythingElse) {
    ScreenRequestScanner scanner;
    const std::uint8_t first[] = {0x51, 0x42};
    auto r = scanner.Feed(first, 2);
    EXPECT_EQ(r.requests, 0u);
    EXPECT_EQ(r.ignored, 0u) << "a request's beginning waits for the rest";
    const std::uint8_t rest[] = {0x0D, 0x00, 0x51, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0A, 0x0D};
    r = scanner.Feed(rest, sizeof rest);
    EXPECT_EQ(r.requests, 2u);
    EXPECT_EQ(r.ignored, 1u + 1u + 4u);
}
