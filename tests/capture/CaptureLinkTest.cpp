// Binding the driver library by name, and the link watch against the virtual scope: one
// message per loss, a silent reopen, no descriptor left behind.
#include "CaptureRig.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>

using namespace capturetest;

namespace {
const QString kLost = QStringLiteral("Could not connect to Scope on USB.");

int OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

unsigned SubstituteCalls(const std::string& dir) {
    void* library = dlopen((dir + "/libftd2xx.so").c_str(), RTLD_NOW);
    auto count =
        library ? reinterpret_cast<unsigned (*)()>(dlsym(library, "substitute_call_count")) : nullptr;
    EXPECT_NE(count, nullptr) << dir;
    return count ? count() : ~0u;
}
} // namespace

TEST(DriverBinding, FailuresAreToldAndMakeNoDriverCall) {
    struct Case {
        std::string dir, file, diagnostic;
        int resolved; // entries found before the missing one, in their order
    };
    // The missing library has a name of its own: for the usual one the loader would hand
    // out the real library, which this process has loaded already.
    for (const Case& c :
         {Case{SCOPE_SUBSTITUTES_DIR, "libftd2xx-absent.so", "FTD2XX.dll Load Error", 0},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_Open", "libftd2xx.so", "FT_Open load error", 0},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_GetQueueStatus", "libftd2xx.so",
               "FT_GetQueueStatus load error", 3},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_Read", "libftd2xx.so", "FT_ReadAny load error", 5}}) {
        const bool substitute = c.file == "libftd2xx.so";
        const unsigned before = substitute ? SubstituteCalls(c.dir) : 0;
        SCOPED_TRACE(c.dir);
        CaptureRig rig(c.dir, c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(rig.Open(), 0);
        const std::string diagnostics = testing::internal::GetCapturedStderr();
        const std::string prefix = c.diagnostic + " : ";
        EXPECT_TRUE(diagnostics.starts_with(prefix) && diagnostics.size() > prefix.size() + 1 &&
                    diagnostics.find_first_not_of("0123456789", prefix.size()) == diagnostics.size() - 1 &&
                    diagnostics.back() == '\n')
            << diagnostics;
        EXPECT_EQ(rig.shown, QStringList{"USB drivers not installed."});
        const capture::DriverTable& d = rig.driver;
        EXPECT_EQ(!!d.m_open + !!d.m_close + !!d.m_listDevices + !!d.m_getQueueStatus + !!d.m_write +
                      !!d.m_read,
                  c.resolved);
        EXPECT_FALSE(rig.timerRunning);
        EXPECT_FALSE(rig.canvas.IsCreated());
        EXPECT_EQ(rig.state.m_driverHandle, nullptr);
        rig.link.CloseLink();
        EXPECT_EQ(substitute ? SubstituteCalls(c.dir) : 0, before);
    }
}

TEST(LinkSupervision, ScopeAbsentAtStartIsToldOnceAndOpenedSilentlyOnArrival) {
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.TickFor(200);
    EXPECT_EQ(rig.shown, QStringList{kLost});
    testsupport::VirtualScopeProcess scope(FastLink());
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; }));
    rig.receiver.CaptureOnce();
    EXPECT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(rig.shown, QStringList{kLost});
}

TEST(LinkSupervision, ThreeUnplugCyclesGiveThreeMessagesAndLeakNothing) {
    testsupport::VirtualScopeProcess scope(FastLink());
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    EXPECT_TRUE(rig.timerRunning);
    rig.receiver.StartRealTime();
    ASSERT_TRUE(rig.TickUntilFrames(2));
    const int descriptors = OpenDescriptors();

    for (int cycle = 1; cycle <= 3; ++cycle) {
        scope.Unplug();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 1; })) << "cycle " << cycle;
        rig.TickFor(30);
        EXPECT_EQ(rig.shown.size(), cycle);
        scope.Replug();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; })) << "cycle " << cycle;
        // The stream picks up again once the request lost with the device is given up.
        rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
        ASSERT_TRUE(rig.TickUntilFrames(rig.receiver.FramesDrawn() + 2)) << "cycle " << cycle;
        EXPECT_EQ(OpenDescriptors(), descriptors) << "cycle " << cycle;
    }
    EXPECT_EQ(rig.shown, QStringList({kLost, kLost, kLost}));
    rig.link.CloseLink();
    EXPECT_FALSE(rig.timerRunning);
    // The handle's tty and its wake-up event.
    EXPECT_EQ(OpenDescriptors(), descriptors - 2);
}
