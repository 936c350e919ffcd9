// The boot loader's packets and replies, through the real ScopeLink and driver
// library against the virtual scope's boot-loader firmware.
#include "BootPacket.h"
#include "LoaderTestFiles.h"
#include "RecordingDriver.h"
#include "ScopeLink.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using loadertest::BootLoaderOptions;
using loadertest::CommandsInLog;
using loadertest::TempFolder;
using testsupport::VirtualScopeProcess;

namespace {
std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02X ", b);
        text += byte;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}
} // namespace

TEST(BootPacket, CommandPacketsAreFramedBigEndian) {
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kHello, 0, 0, nullptr)), "02 FF 00 00 00 00 03");
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kEraseSector, 3, 0, nullptr)), "02 FE 00 03 00 00 03");
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kBlankCheck, 3, 0, nullptr)), "02 FC 00 03 00 00 03");
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kEndDownload, 0, 0, nullptr)), "02 FB 00 00 00 00 03");
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kQueryGeometry, 0, 0, nullptr)), "02 FA 00 00 00 00 03");
    // Only the low 16 bits of the address travel.
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kEraseSector, 65536, 0, nullptr)), "02 FE 00 00 00 00 03");
    EXPECT_EQ(Hex(BootPacket::Build(BootPacket::kEraseSector, 0x12345, 0, nullptr)), "02 FE 23 45 00 00 03");
}

TEST(BootPacket, DataPacketCarriesTheBlockUnchanged) {
    std::vector<std::uint8_t> block(2048, 0x03);
    block[0] = 0x02;
    block[2047] = 0x02;
    const auto packet = BootPacket::Build(BootPacket::kProgramBlock, 291, 2048, block.data());
    ASSERT_EQ(packet.size(), 2055u);
    EXPECT_EQ(Hex({packet.begin(), packet.begin() + 6}), "02 FD 01 23 08 00");
    EXPECT_TRUE(std::equal(block.begin(), block.end(), packet.begin() + 6));
    EXPECT_EQ(packet.back(), 0x03);
}

TEST(ScopeLinkCommands, WithoutAnOpenHandleNothingIsWrittenAndEveryCommandGivesZero) {
    loadertest::RecordedCalls().clear();
    ScopeLink link(loadertest::RecordingDriver());
    EXPECT_EQ(link.EraseSector(0), 0);
    EXPECT_EQ(link.BlankCheck(0), 0);
    EXPECT_EQ(link.SendData(0), 0);
    EXPECT_EQ(link.EndDownload(), 0);
    EXPECT_EQ(link.QueryGeometry(), 0);
    link.Close();
    EXPECT_TRUE(loadertest::RecordedCalls().empty());
}

TEST(ScopeLinkCommands, GeometryQueryComparesTheFlashWithThePaddedImage) {
    TempFolder folder;
    VirtualScopeProcess scope(BootLoaderOptions(16, 32, folder.Path("flash.bin")));
    ScopeLink link;
    ASSERT_EQ(link.Connect(), 1);

    // 16 x 32 blocks = 1,048,576 bytes: fits an image of exactly that padded length.
    loadertest::WriteBytes(folder.Path("fits.bin"), loadertest::Pattern(1046528, 1));
    ASSERT_EQ(link.LoadImage(folder.Path("fits.bin")).outcome, ImageLoad::Outcome::Loaded);
    ASSERT_EQ(link.ImageLength(), 1048576);
    EXPECT_EQ(link.QueryGeometry(), 1);
    EXPECT_EQ(link.BlocksPerSector(), 16);
    EXPECT_EQ(link.SectorCount(), 32);

    loadertest::WriteBytes(folder.Path("big.bin"), loadertest::Pattern(1048576, 1));
    ASSERT_EQ(link.LoadImage(folder.Path("big.bin")).outcome, ImageLoad::Outcome::Loaded);
    ASSERT_EQ(link.ImageLength(), 1050624);
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(link.BlocksPerSector(), 16);
    EXPECT_EQ(link.SectorCount(), 32);

    // A refused block index never reaches the wire.
    EXPECT_EQ(link.SendData(4096), 0);
    EXPECT_EQ(link.SendData(-1), 0);
    const auto commands = CommandsInLog(scope.LogLines());
    EXPECT_EQ(commands, (std::vector<std::string>{"hello", "FA:0", "FA:0"}));
}

TEST(ScopeLinkCommands, ShortAndWrongRepliesAreFailures) {
    TempFolder folder;
    // Commands: 1 hello, 2 geometry ('A'), 3 geometry status 'X', 4 erase with 3 bytes only.
    VirtualScopeProcess scope(
        BootLoaderOptions(4, 4, folder.Path("flash.bin"), {"--fault", "status@3", "--fault", "short@4"}));
    ScopeLink link;
    ASSERT_EQ(link.Connect(), 1);
    EXPECT_EQ(link.QueryGeometry(), 1);
    EXPECT_EQ(link.BlocksPerSector(), 4);
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(link.Reply()[2], 'X');
    EXPECT_EQ(link.BlocksPerSector(), 4);
    EXPECT_EQ(link.EraseSector(0), 0);
    EXPECT_EQ(link.BlankCheck(5), 'R');
}

// A reply that arrives after the 2000 ms read time-out stays queued. Read
// without a purge it passes for the answer of the next command; the commands
// purge the receive queue first and are judged only by their own reply.
TEST(ScopeLinkCommands, LateReplyIsTakenWithoutPurgeAndDiscardedByTheCommands) {
    TempFolder folder;
    // 1 hello, 2 erase (late), 3 blank check, 4 erase (late), 5 blank check.
    VirtualScopeProcess scope(
        BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--fault", "late@2,4", "--late-ms", "2050"}));
    ScopeLink link;
    ASSERT_EQ(link.Connect(), 1);

    link.SendPacket(BootPacket::kEraseSector, 0, 0, nullptr);
    EXPECT_EQ(link.ReadReply(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    link.SendPacket(BootPacket::kBlankCheck, 1, 0, nullptr);
    EXPECT_EQ(link.ReadReply(), 'A');
    EXPECT_EQ(link.Reply()[1], BootPacket::kEraseSector) << "the stale erase reply was taken";

    // Sector 1 of the old flash is not blank: its own answer is 'C'. The
    // blank check's answer is left queued above; let it arrive before the purge.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link.EraseSector(0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(link.BlankCheck(1), 'C');
    EXPECT_EQ(link.Reply()[1], BootPacket::kBlankCheck);
}

TEST(ScopeLinkCommands, UnsolicitedBytesDoNotPassForTheNextReply) {
    TempFolder folder;
    // 1 hello, 2 geometry + noise, 3 blank check of a sector that is not blank.
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--fault", "noise@2"}));
    ScopeLink link;
    ASSERT_EQ(link.Connect(), 1);
    EXPECT_EQ(link.QueryGeometry(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(link.BlankCheck(0), 'C');
    EXPECT_EQ(link.Reply()[1], BootPacket::kBlankCheck);
}
