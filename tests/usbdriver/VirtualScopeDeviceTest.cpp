// The driver against the virtual scope: a real device process behind the
// same kind of link the library lists.
#include "PtyPeer.h"
#include "VirtualScopeProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::VirtualScopeProcess;

const Bytes kHello = {0x02, 0xFF, 0, 0, 0, 0, 0x03};

TEST(VirtualScopeDevice, ScreenRequestQueuesExactlyOneFrame) {
    VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "0", "--picture", "pattern:last-pixel",
                               "--header-fill", "165"});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(Write(handle, {0x51, 0x42, 0x0D}), FT_OK);
    // The count grows past the kernel's 4 KiB to the whole frame and never beyond it.
    EXPECT_EQ(QueuedReaches(handle, 8410), 8410u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Queued(handle), 8410u);
    // Read one byte at a time, as the capture program does.
    Bytes frame, expected(8410, 0);
    while (frame.size() < 8410 && !testing::Test::HasFailure())
        frame.push_back(Read(handle, 1).at(0));
    std::fill(expected.begin(), expected.begin() + 10, 165);
    expected.back() = 0x01;
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(Queued(handle), 0u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST(VirtualScopeDevice, UnplugDuringAReadFailsItAndReplugOpensAgain) {
    VirtualScopeProcess scope({"--firmware", "bootloader", "--throughput", "0", "--latency-ms", "0"});
    FT_HANDLE handle = nullptr, fresh = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    std::thread unplug = After(100, [&] { scope.Unplug(); });
    // No time-out: only the loss of the device can end this read.
    const auto start = Clock::now();
    EXPECT_EQ(Read(handle, 6, FT_IO_ERROR), Bytes{});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    unplug.join();
    EXPECT_EQ(DeviceCount(), 0u);
    EXPECT_NE(Write(handle, kHello), FT_OK);

    scope.Replug();
    EXPECT_EQ(DeviceCount(), 1u);
    // The old handle is left open, as the capture program leaves it.
    ASSERT_EQ(FT_Open(0, &fresh), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(fresh, 2000, 1000), FT_OK);
    ASSERT_EQ(Write(fresh, kHello), FT_OK);
    const Bytes reply = Read(fresh, 6);
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_EQ(reply[2], 'B');
    EXPECT_EQ(FT_Close(fresh), FT_OK);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

} // namespace
