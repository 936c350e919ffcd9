// The link watch against the virtual scope: one message per loss, a silent reopen,
// and no descriptor left behind by a reopen.
#include "CaptureRig.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

using namespace capturetest;
using testsupport::VirtualScopeProcess;

namespace {
const QString kLost = QStringLiteral("Could not connect to Scope on USB.");
const std::vector<std::string> kFastLink = {"--throughput", "0", "--latency-ms", "0"};
} // namespace

TEST(LinkSupervision, ScopeAbsentAtStartIsReportedOnce) {
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.TickFor(200);
    EXPECT_EQ(rig.messages.shown, QStringList{kLost});
    EXPECT_EQ(rig.state.m_disconnected, 1);
}

TEST(LinkSupervision, ScopeArrivingAfterStartIsOpenedSilently) {
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.Tick();
    VirtualScopeProcess scope(kFastLink);
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; }));
    EXPECT_NE(rig.state.m_driverHandle, nullptr);
    rig.receiver.CaptureOnce();
    EXPECT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    EXPECT_EQ(rig.messages.shown, QStringList{kLost});
}

TEST(LinkSupervision, ThreeUnplugCyclesGiveThreeMessagesAndLeakNothing) {
    VirtualScopeProcess scope(kFastLink);
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.TickFor(20);
    ASSERT_TRUE(rig.messages.shown.isEmpty());
    rig.receiver.StartRealTime();
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() >= 2; }));
    const int descriptors = OpenDescriptors();

    for (int cycle = 1; cycle <= 3; ++cycle) {
        scope.Unplug();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 1; })) << "cycle " << cycle;
        rig.TickFor(30);
        EXPECT_EQ(rig.messages.shown.size(), cycle);
        scope.Replug();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; })) << "cycle " << cycle;
        // The stream picks up again once the request lost with the device is given up.
        rig.clock.offset += 2 * capture::FrameReceiver::kStalledRequestMs;
        const unsigned before = rig.receiver.FramesDrawn();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() > before + 1; }))
            << "cycle " << cycle;
        EXPECT_EQ(OpenDescriptors(), descriptors) << "cycle " << cycle;
    }
    EXPECT_EQ(rig.messages.shown, QStringList({kLost, kLost, kLost}));
    rig.link.CloseLink();
    EXPECT_LT(OpenDescriptors(), descriptors);
}

TEST(LinkSupervision, ScopeReturningWhileTheMessageIsOpenIsReopenedAtOnce) {
    VirtualScopeProcess scope(kFastLink);
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.Tick();
    bool reopenedBehindTheBox = false;
    rig.messages.whileShown = [&] {
        // Ticks keep running behind the box; the first of them must not show it again.
        rig.Tick();
        scope.Replug();
        reopenedBehindTheBox = rig.TickUntil([&] { return rig.state.m_disconnected == 0; });
    };
    scope.Unplug();
    rig.TickUntil([&] { return !rig.messages.shown.isEmpty(); });
    EXPECT_TRUE(reopenedBehindTheBox);
    EXPECT_EQ(rig.messages.shown, QStringList{kLost});
}

TEST(LinkSupervision, CloseStopsTheTimerAndClosesTheDevice) {
    VirtualScopeProcess scope(kFastLink);
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.Tick();
    ASSERT_NE(rig.state.m_driverHandle, nullptr);
    const int whileOpen = OpenDescriptors();
    rig.link.CloseLink();
    EXPECT_FALSE(rig.timers.running);
    EXPECT_EQ(OpenDescriptors(), whileOpen - 1);
}
