// The driver against the virtual scope: a real device process behind the
// same kind of link the library lists.
#include "VirtualScopeProcess.h"
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::VirtualScopeProcess;

DWORD Count() {
    DWORD count = 0xDEAD;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return count;
}

FT_STATUS Send(FT_HANDLE handle, std::vector<uint8_t> bytes) {
    DWORD written = 0;
    const FT_STATUS status = FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
    EXPECT_EQ(written, status == FT_OK ? bytes.size() : written);
    return status;
}

TEST(VirtualScopeDevice, ScreenRequestQueuesExactlyOneFrame) {
    VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "0", "--picture", "pattern:last-pixel"});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(Send(handle, {0x51, 0x42, 0x0D}), FT_OK);
    // Poll the queue on a 1 ms tick as the capture program does: the count
    // grows to the whole frame and never past it.
    DWORD queued = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (queued < 8410 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
        ASSERT_LE(queued, 8410u);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 8410u);
    std::vector<uint8_t> frame(8410);
    for (uint8_t& byte : frame) {
        DWORD got = 0;
        ASSERT_EQ(FT_Read(handle, &byte, 1, &got), FT_OK);
        ASSERT_EQ(got, 1u);
    }
    EXPECT_EQ(frame[8409], 0x01);
    EXPECT_EQ(frame[10], 0x00);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST(VirtualScopeDevice, UnplugDuringAReadFailsItAndReplugOpensAgain) {
    VirtualScopeProcess scope({"--firmware", "bootloader", "--throughput", "0", "--latency-ms", "0"});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        scope.Unplug();
    });
    // No time-out: only the loss of the device can end this read.
    uint8_t reply[6] = {};
    DWORD got = 0;
    const auto start = Clock::now();
    EXPECT_NE(FT_Read(handle, reply, 6, &got), FT_OK);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    unplug.join();
    EXPECT_EQ(Count(), 0u);
    EXPECT_NE(Send(handle, {0x02, 0xFF, 0, 0, 0, 0, 0x03}), FT_OK);

    scope.Replug();
    EXPECT_EQ(Count(), 1u);
    // The old handle is left open, as the capture program leaves it.
    FT_HANDLE fresh = nullptr;
    ASSERT_EQ(FT_Open(0, &fresh), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(fresh, 2000, 1000), FT_OK);
    ASSERT_EQ(Send(fresh, {0x02, 0xFF, 0, 0, 0, 0, 0x03}), FT_OK);
    EXPECT_EQ(FT_Read(fresh, reply, 6, &got), FT_OK);
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(reply[2], 'B');
    EXPECT_EQ(FT_Close(fresh), FT_OK);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

// The scope takes its lock just after its link appears; an open in between
// would win the race, so wait until the kernel lists the lock.
bool LockHeldBy(pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line))
            if (line.find("FLOCK") != std::string::npos &&
                line.find(" " + std::to_string(pid) + " ") != std::string::npos)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(VirtualScopeDevice, BusyDeviceIsRefusedNamingTheHolder) {
    VirtualScopeProcess scope({"--busy"});
    ASSERT_TRUE(LockHeldBy(scope.Pid()));
    FT_HANDLE handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_OPENED);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(said.find("in use by pid " + std::to_string(scope.Pid())), std::string::npos) << said;
}

TEST(VirtualScopeDevice, UserWithoutPrivilegesCanCloseAndOpenAgain) {
    // The connect routine of the download program closes and reopens the
    // device on every attempt; the scope keeps its slave side open meanwhile.
    VirtualScopeProcess scope({"--firmware", "bootloader"});
    char slave[256] = {};
    ASSERT_GT(readlink(scope.LinkPath().c_str(), slave, sizeof slave - 1), 0);
    ASSERT_EQ(chmod(slave, 0666), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0) {
            chmod(std::getenv("XDG_RUNTIME_DIR"), 0755);
            chmod(testsupport::VirtualScopeProcess::BridgeDirectory().c_str(), 0755);
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            FT_HANDLE handle = nullptr;
            if (FT_Open(0, &handle) != FT_OK || FT_Close(handle) != FT_OK)
                _exit(10 + attempt);
        }
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
