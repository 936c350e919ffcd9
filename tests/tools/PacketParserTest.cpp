#include "BootPacketParser.h"
#include "ScreenRequestScanner.h"

#include <gtest/gtest.h>

using vscope::BootPacket;
using vscope::BootPacketParser;
using Bytes = std::vector<std::uint8_t>;

// Code@address+length of each packet, "!" after a framing error.
static std::string Describe(const std::vector<BootPacket>& packets) {
    std::string all;
    for (const BootPacket& p : packets)
        all += std::to_string(p.code) + "@" + std::to_string(p.address) + "+" + std::to_string(p.length) +
               (p.framingError ? "! " : " ");
    return all;
}

TEST(BootPacketParser, ReassemblesPacketsSplitAnywhere) {
    // Data full of start and end markers must be taken by length, not by value.
    Bytes data(2048);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = (i % 3 == 0) ? 0x02 : (i % 3 == 1 ? 0x03 : std::uint8_t(i));
    Bytes stream{0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0xFD, 0x01, 0x23, 0x08, 0x00};
    stream.insert(stream.end(), data.begin(), data.end());
    stream.insert(stream.end(), {0x03, 0x02, 0xFE, 0x00, 0x03, 0x00, 0x00, 0x03});

    for (std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(1000), stream.size()}) {
        BootPacketParser parser;
        std::vector<BootPacket> packets;
        std::size_t ignored = 0;
        for (std::size_t at = 0; at < stream.size(); at += piece)
            ignored += parser.Feed(stream.data() + at, std::min(piece, stream.size() - at), packets);
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_EQ(ignored, 0u);
        ASSERT_EQ(Describe(packets), "255@0+0 253@291+2048 254@3+0 ");
        EXPECT_EQ(packets[1].data, data);
    }
}

TEST(BootPacketParser, SkipsGarbageAndFlagsBadEndMarkersAndImpossibleLengths) {
    BootPacketParser parser;
    std::vector<BootPacket> packets;
    const Bytes stream{0x41, 0x00, 0x03,                         // garbage
                       0x02, 0xFC, 0x00, 0x01, 0x00, 0x00, 0x04, // bad end marker
                       0x02, 0xFD, 0x00, 0x00, 0x08, 0x01,       // impossible length: at once
                       0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03};
    EXPECT_EQ(parser.Feed(stream.data(), stream.size(), packets), 3u);
    // The command after broken ones is still understood.
    EXPECT_EQ(Describe(packets), "252@1+0! 253@0+2049! 255@0+0 ");
}

TEST(ScreenRequestScanner, CountsRequestsAndIgnoresEverythingElse) {
    vscope::ScreenRequestScanner scanner;
    const Bytes in{0x51, 0x42, 0x0D, 0x00, 0x51, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0A, 0x0D, 0x51, 0x42};
    auto r = scanner.Feed(in.data(), in.size());
    EXPECT_EQ(r.requests, 2u);
    EXPECT_EQ(r.ignored, 1u + 1u + 4u) << "a request's beginning waits for the rest";
    r = scanner.Feed(in.data() + 2, 1);
    EXPECT_EQ(r.requests, 1u);
    EXPECT_EQ(r.ignored, 0u);
}
