#include "FlashModel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using vscope::FlashModel;
using Result = FlashModel::Result;

namespace {

std::vector<std::uint8_t> Block(std::uint8_t seed) {
    std::vector<std::uint8_t> b(FlashModel::kBlockSize);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = std::uint8_t(seed + i * 7);
    return b;
}

}  // namespace

TEST(FlashModel, OldContentsNeedAnEraseBeforeProgramming) {
    FlashModel flash(2, 3, FlashModel::Fill::Old);
    EXPECT_EQ(flash.SizeBytes(), 2u * 3u * 2048u);
    const auto data = Block(1);
    EXPECT_EQ(flash.BlankCheck(1), Result::NotBlank);
    EXPECT_EQ(flash.ProgramBlock(2, data.data(), data.size()), Result::NotErased);
    EXPECT_EQ(flash.EraseSector(1), Result::Ok);
    EXPECT_EQ(flash.BlankCheck(1), Result::Ok);
    EXPECT_EQ(flash.BlankCheck(0), Result::NotBlank) << "erase must touch only its own sector";
    EXPECT_EQ(flash.ProgramBlock(2, data.data(), data.size()), Result::Ok);
    EXPECT_EQ(flash.ProgramBlock(2, data.data(), data.size()), Result::NotErased)
        << "a programmed block cannot be programmed again without an erase";
    EXPECT_EQ(flash.BlankCheck(1), Result::NotBlank);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.Bytes().begin() + 2 * 2048));
}

TEST(FlashModel, RefusesAddressesAndLengthsOutsideTheFlash) {
    FlashModel flash(2, 3, FlashModel::Fill::Erased);
    const auto data = Block(9);
    EXPECT_EQ(flash.EraseSector(3), Result::OutOfRange);
    EXPECT_EQ(flash.BlankCheck(3), Result::OutOfRange);
    EXPECT_EQ(flash.ProgramBlock(6, data.data(), data.size()), Result::OutOfRange);
    EXPECT_EQ(flash.ProgramBlock(5, data.data(), data.size()), Result::Ok);
    EXPECT_EQ(flash.ProgramBlock(0, data.data(), 2047), Result::WrongLength);
    EXPECT_EQ(flash.ProgramBlock(0, data.data(), 0), Result::WrongLength);
    EXPECT_EQ(flash.BlankCheck(0), Result::Ok) << "a refused program must not change the flash";
}

TEST(FlashModel, FileHoldsTheWholeFlashAndReplacesAnOldOne) {
    const auto dir = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "flash-test";
    std::filesystem::create_directories(dir);
    const auto path = (dir / "flash.bin").string();
    { std::ofstream(path) << "stale contents"; }

    FlashModel flash(1, 2, FlashModel::Fill::Old);
    ASSERT_EQ(flash.EraseSector(1), Result::Ok);
    const auto data = Block(3);
    ASSERT_EQ(flash.ProgramBlock(1, data.data(), data.size()), Result::Ok);
    ASSERT_EQ(flash.WriteFile(path), "");

    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(file, flash.Bytes());
    ASSERT_EQ(file.size(), 2u * 2048u);
    EXPECT_EQ(file[0], 0x00);
    EXPECT_EQ(file[255], 0xFF);
    EXPECT_EQ(file[2048], data[0]);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    EXPECT_NE(flash.WriteFile((dir / "missing" / "flash.bin").string()), "");
}
