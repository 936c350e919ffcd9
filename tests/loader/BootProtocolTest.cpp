// The boot loader's packets and replies, through the real ScopeLink and driver
// library against the virtual scope's boot-loader firmware.
#include "BootPacket.h"
#include "LoaderTestKit.h"
#include "ScopeLink.h"

using namespace loadertest;
using testsupport::VirtualScopeProcess;
using B = BootPacket;

TEST(BootPacket, PacketsAreFramedBigEndianWithTheLow16AddressBits) {
    const std::tuple<std::uint8_t, int, Bytes> cases[] = {
        {B::kHello, 0, {0x02, 0xFF, 0, 0, 0, 0, 0x03}},
        {B::kEraseSector, 3, {0x02, 0xFE, 0, 3, 0, 0, 0x03}},
        {B::kBlankCheck, 3, {0x02, 0xFC, 0, 3, 0, 0, 0x03}},
        {B::kEndDownload, 0, {0x02, 0xFB, 0, 0, 0, 0, 0x03}},
        {B::kQueryGeometry, 0, {0x02, 0xFA, 0, 0, 0, 0, 0x03}},
        {B::kEraseSector, 65536, {0x02, 0xFE, 0, 0, 0, 0, 0x03}},
        {B::kEraseSector, 0x12345, {0x02, 0xFE, 0x23, 0x45, 0, 0, 0x03}}};
    for (const auto& [code, address, expected] : cases)
        EXPECT_EQ(B::Build(code, address, 0, nullptr), expected);
    Bytes block(2048, 0x03);
    block[0] = block[2047] = 0x02;
    const Bytes data = B::Build(B::kProgramBlock, 291, 2048, block.data());
    ASSERT_EQ(data.size(), 2055u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 6), (Bytes{0x02, 0xFD, 0x01, 0x23, 0x08, 0x00}));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 6));
    EXPECT_EQ(data.back(), 0x03);
}

TEST(ScopeLinkCommands, WithoutAnOpenHandleNothingIsWrittenAndEveryCommandGivesZero) {
    recordedCalls.clear();
    ScopeLink link(RecordingDriver());
    EXPECT_EQ(link.EraseSector(0) + link.BlankCheck(0) + link.SendData(0) + link.EndDownload(), 0);
    EXPECT_EQ(link.QueryGeometry(), 0);
    link.Close();
    EXPECT_TRUE(recordedCalls.empty());
}

TEST(ScopeLinkCommands, GeometryQueryComparesTheFlashWithThePaddedImage) {
    TempFolder folder;
    // 1 hello, 2-3 geometry, 4 geometry with status 'X', 5 geometry, 6-7 erase, 7 with 3 bytes only.
    VirtualScopeProcess scope(
        BootLoaderOptions(16, 32, folder.Path("flash.bin"), {"--fault", "status@4", "--fault", "short@7"}));
    ScopeLink link(RecordingDriver());
    ASSERT_EQ(link.Connect(), 1);
    // 16 x 32 blocks = 1,048,576 bytes, the padded length of the first file but not of the second.
    for (const auto& [fileLength, imageLength, fits] :
         {std::tuple{1046528, 1048576, 1}, {1048576, 1050624, 0}}) {
        WriteBytes(folder.Path("image.bin"), Pattern(static_cast<std::size_t>(fileLength), 1));
        ASSERT_EQ(link.LoadImage(folder.Path("image.bin")).outcome, ImageLoad::Outcome::Loaded);
        ASSERT_EQ(link.ImageLength(), imageLength);
        EXPECT_EQ(link.QueryGeometry(), fits);
        EXPECT_EQ(link.BlocksPerSector(), 16);
        EXPECT_EQ(link.SectorCount(), 32);
    }
    // A reply other than 'A' leaves the geometry as it was.
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(link.Reply()[2], 'X');
    EXPECT_EQ(link.BlocksPerSector(), 16);
    // An acknowledged geometry of 0 blocks per sector is stored and holds no image.
    afterRead = [](std::uint8_t* reply, DWORD*) { reply[3] = 0; };
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(link.BlocksPerSector(), 0);
    EXPECT_EQ(link.SectorCount(), 32);
    // Five bytes of an 'A' reply, or three, are no answer.
    afterRead = [](std::uint8_t*, DWORD* received) { *received = 5; };
    EXPECT_EQ(link.EraseSector(0), 0);
    afterRead = nullptr;
    EXPECT_EQ(link.EraseSector(0), 0);
    // A refused block index never reaches the wire.
    EXPECT_EQ(link.SendData(4096) + link.SendData(-1), 0);
    EXPECT_EQ(CommandsInLog(scope.LogLines()),
              (Strings{"hello", "FA:0", "FA:0", "FA:0", "FA:0", "FE:0", "FE:0"}));
}
