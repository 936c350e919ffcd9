// Requests and frames against the virtual scope and against a peer of the test's own:
// the request discipline of the three commands, the exact-size rule, and the recovery
// from a request whose reply never completes.
#include "CaptureRig.h"
#include "PtyPeer.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

using namespace capturetest;
using testsupport::VirtualScopeProcess;

namespace {

std::vector<std::string> FastLink(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--throughput", "0", "--latency-ms", "0"};
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

// Ticks until the peer has received n request bytes.
bool WaitForRequestBytes(CaptureRig& rig, PtyPeer& peer, std::vector<std::uint8_t>& received, size_t n) {
    return rig.TickUntil([&] {
        const auto more = peer.Received();
        received.insert(received.end(), more.begin(), more.end());
        return received.size() >= n;
    });
}

void Feed(CaptureRig& rig, PtyPeer& peer, const std::vector<std::uint8_t>& bytes) {
    size_t offered = 0;
    rig.TickUntil([&] {
        offered += peer.Offer(bytes.data() + offered, bytes.size() - offered);
        return offered == bytes.size();
    });
    ASSERT_EQ(offered, bytes.size());
}

int BlackPixels(const QImage& image, const QRect& area) {
    int black = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            black += image.pixel(x, y) == qRgb(0, 0, 0);
    return black;
}

} // namespace

class AcquisitionFromPeer : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.IsOpen());
        ASSERT_EQ(rig.Open(), 1);
        rig.Tick();
        ASSERT_TRUE(rig.messages.shown.isEmpty());
    }
    PtyPeer peer;
    CaptureRig rig;
};

TEST_F(AcquisitionFromPeer, FrameIsReadOnlyWhenExactlyComplete) {
    rig.receiver.CaptureOnce();
    std::vector<std::uint8_t> request;
    ASSERT_TRUE(WaitForRequestBytes(rig, peer, request, 3));
    EXPECT_EQ(request, (std::vector<std::uint8_t>{0x51, 0x42, 0x0D}));

    std::vector<std::uint8_t> frame(8410, 0);
    frame[8409] = 0x01;
    Feed(rig, peer, std::vector<std::uint8_t>(frame.begin(), frame.end() - 1));
    rig.TickFor(100);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    EXPECT_EQ(rig.window.invalidations, 0);

    Feed(rig, peer, {frame.back()});
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    EXPECT_EQ(rig.state.m_requestPending, 0);
    EXPECT_EQ(rig.window.invalidations, 1);
    EXPECT_EQ(rig.canvas.Image().pixel(1, 280), qRgb(0, 0, 0));
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), capture::ScreenCanvas::kPictureArea), 1);
    EXPECT_EQ(rig.state.m_receiveBuffer[8410], 0); // the spare byte
}

TEST_F(AcquisitionFromPeer, CompleteFrameIsTakenEvenWhenLate) {
    rig.receiver.CaptureOnce();
    std::vector<std::uint8_t> request;
    ASSERT_TRUE(WaitForRequestBytes(rig, peer, request, 3));
    std::vector<std::uint8_t> frame(8410, 0);
    frame[45] = 0x80;
    size_t offered = 0;
    while (offered < frame.size()) {
        offered += peer.Offer(frame.data() + offered, frame.size() - offered);
        DWORD waiting = 0; // let the driver take what the tty holds, without a tick
        rig.driver.m_getQueueStatus(rig.state.m_driverHandle, &waiting);
    }
    rig.clock.offset += 3 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    EXPECT_EQ(rig.canvas.Image().pixel(239, 1), qRgb(0, 0, 0));
}

TEST_F(AcquisitionFromPeer, BytesWithoutARequestAreNotTakenForTheNextFrame) {
    std::vector<std::uint8_t> stale(8410, 0xFF);
    Feed(rig, peer, stale);
    rig.TickFor(50);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);

    rig.receiver.CaptureOnce();
    std::vector<std::uint8_t> request;
    ASSERT_TRUE(WaitForRequestBytes(rig, peer, request, 3));
    std::vector<std::uint8_t> frame(8410, 0);
    frame[10] = 0x80;
    Feed(rig, peer, frame);
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), capture::ScreenCanvas::kPictureArea), 1);
    EXPECT_EQ(rig.canvas.Image().pixel(240, 1), qRgb(0, 0, 0));
}

TEST_F(AcquisitionFromPeer, OverlongReplyIsDiscardedAndRealTimeAsksAgain) {
    rig.receiver.StartRealTime();
    std::vector<std::uint8_t> request;
    ASSERT_TRUE(WaitForRequestBytes(rig, peer, request, 3));
    Feed(rig, peer, std::vector<std::uint8_t>(8411, 0));
    ASSERT_TRUE(WaitForRequestBytes(rig, peer, request, 6));
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    Feed(rig, peer, std::vector<std::uint8_t>(8410, 0));
    EXPECT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
}

TEST(Acquisition, RealTimeRequestsAfterEveryFrame) {
    VirtualScopeProcess scope(FastLink({"--picture", "pattern:counter"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.StartRealTime();
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() >= 10; }));
    rig.receiver.StopCapture();
    rig.TickFor(100);
    const unsigned frames = rig.receiver.FramesDrawn();
    EXPECT_EQ(static_cast<unsigned>(ScreenRequests(scope.LogLines())), frames);
    EXPECT_EQ(rig.window.invalidations, static_cast<int>(frames));
    EXPECT_EQ(rig.state.m_requestPending, 0);
}

TEST(Acquisition, CommandsNeverCancelTheFrameInFlight) {
    // A slow reply, so that the commands below all arrive while it is outstanding.
    VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "150"});
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);

    rig.receiver.StartRealTime();
    rig.receiver.StartRealTime(); // twice: still one request
    rig.receiver.StopCapture();   // the frame in flight is still drawn
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 1u);
    EXPECT_EQ(ScreenRequests(scope.LogLines()), 1);

    rig.receiver.StartRealTime();
    rig.receiver.CaptureOnce(); // sends nothing; the stream ends after this frame
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 2; }));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 2u);
    EXPECT_EQ(ScreenRequests(scope.LogLines()), 2);

    rig.receiver.CaptureOnce();
    rig.receiver.StartRealTime(); // back to streaming without a second request
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() >= 4; }));
    rig.receiver.StopCapture();
    rig.TickFor(400);
    EXPECT_EQ(ScreenRequests(scope.LogLines()), static_cast<int>(rig.receiver.FramesDrawn()));
}

TEST(Acquisition, LostRequestIsGivenUpAndTheStreamGoesOn) {
    VirtualScopeProcess scope(FastLink({"--fault", "drop@1"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.StartRealTime();
    rig.TickFor(100);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    // Real waiting: the recovery is measured by the program's own clock.
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() >= 3; }, 4000));
    rig.receiver.StopCapture();
    rig.TickFor(100);
    EXPECT_EQ(ScreenRequests(scope.LogLines()), static_cast<int>(rig.receiver.FramesDrawn()) + 1);
}

TEST(Acquisition, LostSingleShotIsGivenUpWithoutAskingAgain) {
    VirtualScopeProcess scope(FastLink({"--fault", "drop@1"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.CaptureOnce();
    rig.TickFor(50);
    rig.clock.offset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_requestPending == 0; }));
    rig.TickFor(50);
    EXPECT_EQ(ScreenRequests(scope.LogLines()), 1);
    rig.receiver.CaptureOnce(); // the button works again
    EXPECT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
}

TEST(Acquisition, StrayBytesAfterRepliesDoNotStopTheStream) {
    VirtualScopeProcess scope(FastLink({"--fault", "noise@1,2,3,5,8"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.StartRealTime();
    EXPECT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() >= 12; }, 8000))
        << rig.receiver.FramesDrawn() << " frames";
}

struct PatternCase {
    const char* pattern;
    int blackInPicture;
    int x, y; // one black pixel that must be there (-1: none)
};

class RenderedPattern : public testing::TestWithParam<PatternCase> {};

TEST_P(RenderedPattern, LandsWhereTheLineAndPixelSay) {
    const PatternCase c = GetParam();
    VirtualScopeProcess scope(
        FastLink({"--picture", std::string("pattern:") + c.pattern, "--header-fill", "255"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.CaptureOnce();
    ASSERT_TRUE(rig.TickUntil([&] { return rig.receiver.FramesDrawn() == 1; }));
    const QImage& image = rig.canvas.Image();
    EXPECT_EQ(BlackPixels(image, capture::ScreenCanvas::kPictureArea), c.blackInPicture);
    if (c.x >= 0) {
        EXPECT_EQ(image.pixel(c.x, c.y), qRgb(0, 0, 0));
    }
    // The frame is always there, and nothing outside the screen area is ever drawn.
    EXPECT_EQ(BlackPixels(image, {0, 0, 242, 1}) + BlackPixels(image, {0, 281, 242, 1}), 484);
    EXPECT_EQ(BlackPixels(image, {0, 1, 1, 280}) + BlackPixels(image, {241, 1, 1, 280}), 560);
    EXPECT_EQ(BlackPixels(image, {242, 0, 238, 560}) + BlackPixels(image, {0, 282, 242, 278}), 0);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RenderedPattern,
                         testing::Values(PatternCase{"blank", 0, -1, -1},
                                         PatternCase{"full", 240 * 280, 1, 1},
                                         PatternCase{"first-pixel", 1, 240, 1},
                                         PatternCase{"line1-first", 1, 239, 1},
                                         PatternCase{"last-pixel", 1, 1, 280}),
                         [](const auto& info) {
                             std::string name = info.param.pattern;
                             std::erase(name, '-');
                             return name;
                         });
