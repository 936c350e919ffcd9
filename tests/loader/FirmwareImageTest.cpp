#include "FirmwareImage.h"
#include "LoaderTestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using loadertest::Pattern;
using loadertest::TempFolder;
using loadertest::WriteBytes;
using Outcome = ImageLoad::Outcome;

namespace {
// A file of the given length without writing its bytes (sparse).
void MakeFileOfLength(const std::string& path, long long length) {
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(length));
}
} // namespace

TEST(FirmwareImage, WorkedValuesOfLengthBlocksAndSizeText) {
    struct Case {
        long long length;
        int imageLength;
        int blocks;
        const char* sizeText;
    };
    const Case cases[] = {
        {0, 2048, 1, "0,000 Bytes"},
        {512, 2048, 1, "0,512 Bytes"},
        {2047, 2048, 1, "2,047 Bytes"},
        {2048, 4096, 2, "2,048 Bytes"},
        {4096, 6144, 3, "4,096 Bytes"},
        {999999, 1001472, 489, "999,999 Bytes"},
        {1000000, 1001472, 489, "1,000,000 Bytes"},
        {1234567, 1234944, 603, "1,234,567 Bytes"},
    };
    TempFolder folder;
    FirmwareImage image;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string path = folder.Path("image.bin");
        WriteBytes(path, Pattern(static_cast<std::size_t>(c.length), 1));
        const ImageLoad load = image.LoadImage(path);
        EXPECT_EQ(load.outcome, Outcome::Loaded);
        EXPECT_EQ(load.sizeText, c.sizeText);
        EXPECT_EQ(image.Length(), c.imageLength);
        EXPECT_EQ(image.Blocks(), c.blocks);
    }
}

TEST(FirmwareImage, BufferStartsDefinedAndPaddingKeepsWhatItHeld) {
    TempFolder folder;
    FirmwareImage image;
    EXPECT_EQ(image.Length(), 0);
    EXPECT_EQ(image.Data()[0], 0);
    for (int i = 1; i < FirmwareImage::kBufferSize; i += 4093)
        ASSERT_EQ(image.Data()[i], FirmwareImage::kInitialFill) << i;
    EXPECT_EQ(image.Data()[FirmwareImage::kBufferSize - 1], FirmwareImage::kInitialFill);

    const auto longer = Pattern(10000, 2);
    WriteBytes(folder.Path("long.bin"), longer);
    ASSERT_EQ(image.LoadImage(folder.Path("long.bin")).outcome, Outcome::Loaded);
    const auto shorter = Pattern(3000, 3);
    WriteBytes(folder.Path("short.bin"), shorter);
    ASSERT_EQ(image.LoadImage(folder.Path("short.bin")).outcome, Outcome::Loaded);
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

TEST(FirmwareImage, FailedLoadsLeaveTheEarlierImageAndLength) {
    TempFolder folder;
    FirmwareImage image;
    const auto first = Pattern(5000, 4);
    WriteBytes(folder.Path("first.bin"), first);
    ASSERT_EQ(image.LoadImage(folder.Path("first.bin")).outcome, Outcome::Loaded);
    const std::vector<std::uint8_t> before(image.Data(), image.Data() + FirmwareImage::kBufferSize);

    const ImageLoad missing = image.LoadImage(folder.Path("missing.bin"));
    EXPECT_EQ(missing.outcome, Outcome::OpenFailed);
    EXPECT_EQ(missing.sizeText, "");

    // Opening a folder works on Linux, reading it does not: a read error after open.
    const ImageLoad unreadable = image.LoadImage(folder.Path(""));
    EXPECT_EQ(unreadable.outcome, Outcome::ReadFailed);

    MakeFileOfLength(folder.Path("huge.bin"), FirmwareImage::kFileLimit);
    const ImageLoad huge = image.LoadImage(folder.Path("huge.bin"));
    EXPECT_EQ(huge.outcome, Outcome::TooLong);
    EXPECT_EQ(huge.fileLength, 8386560);
    MakeFileOfLength(folder.Path("bigger.bin"), 9000000);
    EXPECT_EQ(image.LoadImage(folder.Path("bigger.bin")).outcome, Outcome::TooLong);

    EXPECT_EQ(image.Length(), 6144);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), image.Data()));
}

TEST(FirmwareImage, LongestAcceptedFileLeavesItsLastBlockInsideTheBuffer) {
    TempFolder folder;
    FirmwareImage image;
    MakeFileOfLength(folder.Path("max.bin"), FirmwareImage::kFileLimit - 1);
    const ImageLoad load = image.LoadImage(folder.Path("max.bin"));
    ASSERT_EQ(load.outcome, Outcome::Loaded);
    EXPECT_EQ(load.sizeText, "8,386,559 Bytes");
    EXPECT_EQ(image.Blocks(), 4095);
    // The sequencer sends blocks 0 to T inclusive: T must still be a block of the buffer.
    EXPECT_NE(image.Block(image.Blocks()), nullptr);
    EXPECT_EQ(image.Block(4096), nullptr);
    EXPECT_EQ(image.Block(-1), nullptr);
}
