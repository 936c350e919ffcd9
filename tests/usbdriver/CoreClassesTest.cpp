// Inner classes of the driver library whose faults the FT_* tests would not
// pin down: the receive queue's wrap-around, the USB tty scan of sysfs and
// the list's following of tty nodes.
#include "DeviceList.h"
#include "PtyPeer.h"
#include "ReceiveQueue.h"
#include "UsbTtyScanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>

namespace {

namespace fs = std::filesystem;

TEST(ReceiveQueue, KeepsOrderAcrossTheWrapAndWhenFull) {
    usbdriver::ReceiveQueue queue;
    std::vector<uint8_t> chunk(usbdriver::ReceiveQueue::kCapacity / 3 + 7);
    uint8_t next = 0;
    uint8_t expected = 0;
    for (int round = 0; round < 10; ++round) {
        size_t space = 0;
        while (queue.Free() > 0) {
            uint8_t* span = queue.FreeSpan(space);
            ASSERT_GT(space, 0u);
            const size_t n = std::min(space, chunk.size());
            for (size_t i = 0; i < n; ++i)
                span[i] = next++;
            queue.Commit(n);
        }
        queue.FreeSpan(space);
        EXPECT_EQ(space, 0u);
        const size_t n = queue.Take(chunk.data(), chunk.size());
        ASSERT_EQ(n, chunk.size());
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(chunk[i], expected++) << "round " << round << " byte " << i;
        uint8_t one = 0;
        ASSERT_EQ(queue.Take(&one, 1), 1u);
        EXPECT_EQ(one, expected++);
    }
    queue.Clear();
    uint8_t one = 0;
    EXPECT_EQ(queue.Take(&one, 1), 0u);
}

class UsbTtyScan : public testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "sysfs";
        fs::create_directories(m_root / "class/tty");
        fs::create_directories(m_root / "dev");
    }
    // A tty whose device is the interface of a USB device with that vendor.
    void AddUsbTty(const std::string& name, const std::string& vendor, const std::string& product) {
        const fs::path usb = m_root / "devices/usb1" / ("1-" + name);
        const fs::path interface = usb / (("1-" + name) + ":1.0");
        fs::create_directories(interface / name);
        std::ofstream(usb / "idVendor") << vendor << "\n";
        std::ofstream(usb / "product") << product << "\n";
        fs::create_directories(m_root / "class/tty" / name);
        fs::create_directory_symlink(interface, m_root / "class/tty" / name / "device");
        std::ofstream(m_root / "dev" / name) << "";
    }
    usbdriver::UsbTtyScanner Scanner() const {
        return usbdriver::UsbTtyScanner((m_root / "class/tty").string(), (m_root / "dev").string());
    }
    void TearDown() override { fs::remove_all(m_root); }
    fs::path m_root;
};

TEST_F(UsbTtyScan, ListsBridgeVendorTtysInNaturalOrder) {
    AddUsbTty("ttyUSB10", "0403", "Scope B");
    AddUsbTty("ttyUSB2", "0403", "Scope A");
    AddUsbTty("ttyACM0", "2341", "Someone else's board");
    fs::create_directories(m_root / "class/tty/tty0"); // a console: no device at all
    // A bridge whose node has not been made yet is not offered.
    AddUsbTty("ttyUSB3", "0403", "Scope C");
    fs::remove(m_root / "dev/ttyUSB3");

    const auto entries = Scanner().Scan();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].serial, "ttyUSB2");
    EXPECT_EQ(entries[0].node, (m_root / "dev/ttyUSB2").string());
    EXPECT_EQ(entries[0].description, "Scope A");
    EXPECT_FALSE(entries[0].isVirtual);
    EXPECT_EQ(entries[1].serial, "ttyUSB10");
    EXPECT_TRUE(Scanner().StillValid(entries[1]));
    fs::remove_all(m_root / "class/tty/ttyUSB10");
    EXPECT_FALSE(Scanner().StillValid(entries[1]));
}

TEST_F(UsbTtyScan, DeviceListPutsVirtualBridgesFirstAndFollowsTtyNodes) {
    PtyPeer peer("scope0");
    AddUsbTty("ttyUSB0", "0403", "Scope");
    usbdriver::DeviceList list(Scanner(), (m_root / "dev").string());
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_TRUE(list.Entry(0)->isVirtual);
    EXPECT_EQ(list.Entry(1)->serial, "ttyUSB0");
    EXPECT_FALSE(list.Entry(2).has_value());

    // The node goes with the unplugged bridge; the next listing sees it.
    fs::remove(m_root / "dev/ttyUSB0");
    EXPECT_EQ(list.Count(), 1u);
    AddUsbTty("ttyUSB1", "0403", "Scope");
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Entry(1)->serial, "ttyUSB1");
}

TEST(NaturalOrder, NumbersCompareByValue) {
    using usbdriver::UsbTtyScanner;
    EXPECT_TRUE(UsbTtyScanner::NaturalLess("ttyUSB2", "ttyUSB10"));
    EXPECT_FALSE(UsbTtyScanner::NaturalLess("ttyUSB10", "ttyUSB2"));
    EXPECT_TRUE(UsbTtyScanner::NaturalLess("ttyACM9", "ttyUSB0"));
    EXPECT_TRUE(UsbTtyScanner::NaturalLess("ttyUSB", "ttyUSB0"));
    EXPECT_FALSE(UsbTtyScanner::NaturalLess("ttyUSB1", "ttyUSB1"));
    EXPECT_TRUE(UsbTtyScanner::NaturalLess("ttyUSB01", "ttyUSB1") !=
                UsbTtyScanner::NaturalLess("ttyUSB1", "ttyUSB01"));
}

} // namespace
