#include "FirmwareImage.h"
#include "LoaderTestKit.h"

#include <cstring>

using namespace loadertest;

TEST(FirmwareImage, WorkedValuesOfLengthBlocksAndSizeText) {
    const std::tuple<long long, int, int, const char*> cases[] = {
        {0, 2048, 1, "0,000 Bytes"},
        {512, 2048, 1, "0,512 Bytes"},
        {2047, 2048, 1, "2,047 Bytes"},
        {2048, 4096, 2, "2,048 Bytes"},
        {4096, 6144, 3, "4,096 Bytes"},
        {999999, 1001472, 489, "999,999 Bytes"},
        {1000000, 1001472, 489, "1,000,000 Bytes"},
        {1234567, 1234944, 603, "1,234,567 Bytes"},
        // The longest file accepted: the sequencer sends blocks 0 to T, and block T is the buffer's last.
        {8386559, 8386560, 4095, "8,386,559 Bytes"}};
    TempFolder folder;
    FirmwareImage image;
    for (const auto& [length, imageLength, blocks, sizeText] : cases) {
        SCOPED_TRACE(length);
        std::ofstream(folder.Path("image.bin"), std::ios::trunc).close();
        std::filesystem::resize_file(folder.Path("image.bin"), static_cast<std::uintmax_t>(length));
        const ImageLoad load = image.LoadImage(folder.Path("image.bin"));
        EXPECT_EQ(load.outcome, ImageLoad::Outcome::Loaded);
        EXPECT_EQ(load.sizeText, sizeText);
        EXPECT_EQ(image.Length(), imageLength);
        EXPECT_EQ(image.Blocks(), blocks);
        EXPECT_NE(image.Block(blocks), nullptr);
    }
    EXPECT_EQ(image.Block(4096), nullptr);
    EXPECT_EQ(image.Block(-1), nullptr);
}

TEST(FirmwareImage, BufferStartsDefinedAndPaddingKeepsWhatItHeld) {
    TempFolder folder;
    FirmwareImage image;
    EXPECT_EQ(image.Length(), 0);
    EXPECT_EQ(image.Data()[0], 0);
    for (int i = 1; i < FirmwareImage::kBufferSize; i += 4093)
        ASSERT_EQ(image.Data()[i], 0xFF) << i;
    EXPECT_EQ(image.Data()[FirmwareImage::kBufferSize - 1], 0xFF);

    const Bytes longer = Pattern(10000, 2), shorter = Pattern(3000, 3);
    WriteBytes(folder.Path("long.bin"), longer);
    WriteBytes(folder.Path("short.bin"), shorter);
    ASSERT_EQ(image.LoadImage(folder.Path("long.bin")).outcome, ImageLoad::Outcome::Loaded);
    ASSERT_EQ(image.LoadImage(folder.Path("short.bin")).outcome, ImageLoad::Outcome::Loaded);
    EXPECT_EQ(image.Length(), 4096);
    EXPECT_EQ(std::memcmp(image.Data(), shorter.data(), 3000), 0);
    EXPECT_EQ(std::memcmp(image.Data() + 3000, longer.data() + 3000, 1096), 0);

    // After ClearImage an empty file gives one block: first byte 0, the rest old.
    image.ClearImage();
    EXPECT_EQ(image.Length(), 0);
    WriteBytes(folder.Path("empty.bin"), {});
    ASSERT_EQ(image.LoadImage(folder.Path("empty.bin")).sizeText, "0,000 Bytes");
    EXPECT_EQ(image.Length(), 2048);
    EXPECT_EQ(image.Data()[0], 0);
    EXPECT_EQ(std::memcmp(image.Data() + 1, shorter.data() + 1, 2047), 0);
}

// A file whose size the file system reports as 0 is loaded by what it holds.
TEST(FirmwareImage, FileWithoutAReportedSizeLoadsByItsContent) {
    const std::string path = "/proc/self/mountinfo";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    ASSERT_EQ(info.st_size, 0);
    FirmwareImage image;
    const ImageLoad load = image.LoadImage(path);
    ASSERT_EQ(load.outcome, ImageLoad::Outcome::Loaded);
    EXPECT_GT(load.fileLength, 0);
    EXPECT_EQ(load.sizeText, FirmwareImage::SizeText(load.fileLength));
    EXPECT_EQ(image.Length(), (load.fileLength / 2048 + 1) * 2048);
    // The first line names the root mount; the process's own mounts do not change meanwhile.
    const Bytes again = ReadBytes(path);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + 16, image.Data()));
    // Devices are refused without being opened.
    EXPECT_EQ(image.LoadImage("/dev/null").outcome, ImageLoad::Outcome::NotRegular);
    EXPECT_EQ(image.Length(), (load.fileLength / 2048 + 1) * 2048);
}
