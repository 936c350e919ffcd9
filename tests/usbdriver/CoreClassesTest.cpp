// Inner classes of the driver library whose faults the FT_* tests would not
// pin down: the receive queue's wrap-around, the USB tty scan of sysfs and
// the list's following of tty nodes.
#include "DeviceList.h"
#include "PtyPeer.h"
#include "ReceiveQueue.h"
#include "UsbTtyScanner.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(ReceiveQueue, GrowsAndKeepsOrderWhileBeingTaken) {
    usbdriver::ReceiveQueue queue;
    uint8_t next = 0, expected = 0;
    std::vector<uint8_t> chunk(5000);
    // Filled faster than it is drained: far past its first storage, with the
    // oldest byte moving up all the time.
    for (int round = 0; round < 200; ++round) {
        for (int fill = 0; fill < 3; ++fill) {
            size_t space = 0;
            uint8_t* span = queue.FreeSpan(space);
            ASSERT_GT(space, 0u);
            const size_t n = std::min<size_t>(space, 4321);
            for (size_t i = 0; i < n; ++i)
                span[i] = next++;
            queue.Commit(n);
        }
        ASSERT_EQ(queue.Take(chunk.data(), chunk.size()), chunk.size());
        for (size_t i = 0; i < chunk.size(); ++i)
            ASSERT_EQ(chunk[i], expected++) << "round " << round << " byte " << i;
        uint8_t one = 0;
        ASSERT_EQ(queue.Take(&one, 1), 1u);
        EXPECT_EQ(one, expected++);
    }
    EXPECT_GT(queue.Size(), usbdriver::ReceiveQueue::kInitialCapacity);
    const size_t left = queue.Size();
    std::vector<uint8_t> rest(left + 10);
    ASSERT_EQ(queue.Take(rest.data(), rest.size()), left);
    for (size_t i = 0; i < left; ++i)
        ASSERT_EQ(rest[i], expected++);
}

// The real bridges and the list of both kinds, over a sysfs tree of the test's own.
class UsbTtyScan : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_root / "class/tty");
        fs::create_directories(m_root / "dev");
    }
    void TearDown() override { fs::remove_all(m_root); }
    // A tty whose device is the interface of a USB device with that vendor.
    void AddUsbTty(const std::string& name, const std::string& vendor, const std::string& product) {
        const fs::path usb = m_root / "devices/usb1" / ("1-" + name),
                       interface = usb / ("1-" + name + ":1.0");
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
    const fs::path m_root = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "sysfs";
};

TEST_F(UsbTtyScan, ListsBridgeVendorTtysInNaturalOrderAfterTheVirtualBridges) {
    PtyPeer peer("scope0");
    AddUsbTty("ttyUSB10", "0403", "Scope B");
    AddUsbTty("ttyUSB2", "0403", "Scope A");
    AddUsbTty("ttyACM0", "2341", "Someone else's board");
    fs::create_directories(m_root / "class/tty/tty0"); // a console: no device at all
    // A bridge whose node has not been made yet is not offered.
    AddUsbTty("ttyUSB3", "0403", "Scope C");
    fs::remove(m_root / "dev/ttyUSB3");

    usbdriver::DeviceList list(Scanner(), (m_root / "dev").string());
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_TRUE(list.Entry(0)->isVirtual);
    const usbdriver::DeviceEntry first = *list.Entry(1);
    EXPECT_EQ(first.serial, "ttyUSB2");
    EXPECT_EQ(first.node, (m_root / "dev/ttyUSB2").string());
    EXPECT_EQ(first.description, "Scope A");
    EXPECT_FALSE(first.isVirtual);
    EXPECT_EQ(list.Entry(2)->serial, "ttyUSB10");
    EXPECT_FALSE(list.Entry(3).has_value());

    // The kernel forgets the unplugged tty and its node goes; the next listing sees it.
    EXPECT_TRUE(Scanner().StillValid(first));
    fs::remove_all(m_root / "class/tty/ttyUSB2");
    EXPECT_FALSE(Scanner().StillValid(first));
    fs::remove(m_root / "dev/ttyUSB2");
    EXPECT_EQ(list.Count(), 2u);
    AddUsbTty("ttyUSB1", "0403", "Scope");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Entry(1)->serial, "ttyUSB1");
}

TEST(NaturalOrder, NumbersCompareByValueInAStrictOrder) {
    const auto less = usbdriver::UsbTtyScanner::NaturalLess;
    EXPECT_TRUE(less("ttyUSB2", "ttyUSB10") && !less("ttyUSB10", "ttyUSB2"));
    EXPECT_TRUE(less("ttyACM9", "ttyUSB0") && less("ttyUSB", "ttyUSB0"));
    EXPECT_FALSE(less("ttyUSB1", "ttyUSB1"));
    // Equal values that differ in leading zeros still sort one way only.
    EXPECT_NE(less("ttyUSB01", "ttyUSB1"), less("ttyUSB1", "ttyUSB01"));
}

} // namespace
