#include "BootLoaderFirmware.h"

#include <gtest/gtest.h>

using vscope::BootLoaderFirmware;
using vscope::BootPacket;
using vscope::FlashModel;

namespace {

BootPacket Packet(std::uint8_t code, unsigned address = 0, std::vector<std::uint8_t> data = {}) {
    BootPacket p;
    p.code = code;
    p.address = address;
    p.length = unsigned(data.size());
    p.data = std::move(data);
    return p;
}

char Status(const BootLoaderFirmware::Answer& a) { return char(a.reply[2]); }

}  // namespace

TEST(BootLoaderFirmware, AnswersEachCommandWithItsStatus) {
    FlashModel flash(4, 8, FlashModel::Fill::Old);
    BootLoaderFirmware boot(flash, 20, 2);

    const auto hello = boot.Handle(Packet(0xFF));
    EXPECT_EQ(hello.reply, (std::array<std::uint8_t, 6>{0x02, 0xFF, 'B', 0, 0, 0x03}));

    const auto geometry = boot.Handle(Packet(0xFA));
    EXPECT_EQ(geometry.reply, (std::array<std::uint8_t, 6>{0x02, 0xFA, 'A', 4, 8, 0x03}));

    EXPECT_EQ(Status(boot.Handle(Packet(0xFC, 0))), 'C');
    const auto erase = boot.Handle(Packet(0xFE, 0));
    EXPECT_EQ(Status(erase), 'A');
    EXPECT_DOUBLE_EQ(erase.deviceMs, 20);
    EXPECT_EQ(Status(boot.Handle(Packet(0xFC, 0))), 'A');
    EXPECT_EQ(Status(boot.Handle(Packet(0xFE, 8))), 'R');
    EXPECT_EQ(Status(boot.Handle(Packet(0xFC, 8))), 'R');

    const std::vector<std::uint8_t> block(2048, 0x5A);
    const auto program = boot.Handle(Packet(0xFD, 3, block));
    EXPECT_EQ(Status(program), 'A');
    EXPECT_DOUBLE_EQ(program.deviceMs, 2);
    EXPECT_EQ(Status(boot.Handle(Packet(0xFD, 3, block))), 'P');
    EXPECT_EQ(Status(boot.Handle(Packet(0xFD, 4, block))), 'P') << "sector 1 was never erased";
    EXPECT_EQ(Status(boot.Handle(Packet(0xFD, 32, block))), 'R');
    EXPECT_EQ(Status(boot.Handle(Packet(0xFD, 1, std::vector<std::uint8_t>(100)))), 'L');

    const auto end = boot.Handle(Packet(0xFB));
    EXPECT_EQ(Status(end), 'A');
    EXPECT_TRUE(end.endOfDownload);
    EXPECT_EQ(Status(boot.Handle(Packet(0x10))), 'U');

    BootPacket broken = Packet(0xFE, 1);
    broken.framingError = true;
    EXPECT_EQ(boot.Handle(broken).reply, (std::array<std::uint8_t, 6>{0x02, 0xFE, 'F', 0, 0, 0x03}));
    EXPECT_EQ(flash.BlankCheck(1), FlashModel::Result::NotBlank) << "a broken packet must not act";
}
