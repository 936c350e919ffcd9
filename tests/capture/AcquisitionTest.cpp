// Requests and frames against a peer of the test's own and against the virtual scope (the
// exact-size rule, the three commands, lost replies), and where each frame bit is drawn.
#include "CaptureRig.h"
#include "PtyPeer.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace capturetest;

namespace {

// Ticks until the program has sent n bytes in all.
bool WaitForSent(CaptureRig& rig, PtyPeer& peer, size_t n) {
    return rig.TickUntil([&] { return peer.Collect().size() >= n; });
}

// Ticks while the line takes the bytes as fast as it will.
void Feed(CaptureRig& rig, PtyPeer& peer, const Bytes& bytes) {
    size_t offered = 0;
    rig.TickUntil([&] { return (offered = peer.Offer(bytes, offered)) == bytes.size(); });
    ASSERT_EQ(offered, bytes.size());
}

// Every command of the screen firmware is a screen request.
int ScreenRequests(const testsupport::VirtualScopeProcess& scope) {
    return static_cast<int>(scope.WaitForEvents("cmd", 0, 0).size());
}

} // namespace

TEST(AcquisitionFromPeer, OnlyAnExactFrameAfterARequestIsRead) {
    PtyPeer peer;
    ASSERT_GE(peer.Master(), 0);
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    // Bytes nobody asked for are not a frame; the next request throws them away.
    Feed(rig, peer, Bytes(8410, 0xFF));
    rig.TickFor(50);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);

    rig.receiver.CaptureOnce();
    ASSERT_TRUE(WaitForSent(rig, peer, 3));
    Bytes frame(8410, 0);
    frame[8409] = 0x01;
    Feed(rig, peer, {frame.begin(), frame.end() - 1});
    rig.TickFor(100);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    EXPECT_EQ(rig.invalidations, 0);

    // The last byte is queued without a tick and the request is then overdue: a complete
    // frame is taken however late it is (the thread may have been held up).
    ASSERT_EQ(write(peer.Master(), &frame.back(), 1), 1);
    DWORD waiting = 0;
    for (int i = 0; i < 2000 && waiting != 8410; ++i, usleep(1000))
        rig.driver.m_getQueueStatus(rig.state.m_driverHandle, &waiting);
    ASSERT_EQ(waiting, 8410u);
    rig.clockOffset += 3 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(rig.state.m_requestPending, 0);
    EXPECT_EQ(rig.invalidations, 1);
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), capture::ScreenCanvas::kPictureArea), 1);
    EXPECT_EQ(rig.canvas.Image().pixel(1, 280), qRgb(0, 0, 0));
    EXPECT_EQ(rig.state.m_receiveBuffer[8410], 0); // the spare byte

    // One byte too many (a stray byte after the reply) spoils the frame; real time asks again.
    rig.receiver.StartRealTime();
    ASSERT_TRUE(WaitForSent(rig, peer, 6));
    Feed(rig, peer, Bytes(8411, 0));
    ASSERT_TRUE(WaitForSent(rig, peer, 9));
    EXPECT_EQ(rig.receiver.FramesDrawn(), 1u);
    Feed(rig, peer, Bytes(8410, 0));
    EXPECT_TRUE(rig.TickUntilFrames(2));
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), capture::ScreenCanvas::kPictureArea), 0);
    ASSERT_TRUE(WaitForSent(rig, peer, 12));
    EXPECT_EQ(peer.Collect(),
              (Bytes{0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D}));
}

TEST(Acquisition, CommandsNeverCancelTheFrameInFlight) {
    // A slow reply, so that the commands below all arrive while it is outstanding.
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "150"});
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);

    rig.receiver.StartRealTime();
    rig.receiver.StartRealTime(); // twice: still one request
    rig.receiver.StopCapture();   // the frame in flight is still drawn
    ASSERT_TRUE(rig.TickUntilFrames(1));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 1u);
    EXPECT_EQ(ScreenRequests(scope), 1);

    rig.receiver.StartRealTime();
    rig.receiver.CaptureOnce(); // sends nothing; the stream ends after this frame
    ASSERT_TRUE(rig.TickUntilFrames(2));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 2u);
    EXPECT_EQ(ScreenRequests(scope), 2);

    rig.receiver.CaptureOnce();
    rig.receiver.StartRealTime(); // back to streaming without a second request
    ASSERT_TRUE(rig.TickUntilFrames(4));
    rig.receiver.StopCapture();
    rig.TickFor(400);
    EXPECT_EQ(ScreenRequests(scope), static_cast<int>(rig.receiver.FramesDrawn()));
    EXPECT_EQ(rig.invalidations, static_cast<int>(rig.receiver.FramesDrawn()));
}

TEST(Acquisition, LostRepliesAreGivenUpAndOnlyRealTimeAsksAgain) {
    testsupport::VirtualScopeProcess scope(FastLink({"--fault", "drop@1,2"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.CaptureOnce();
    rig.TickFor(100);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_requestPending == 0; }));
    rig.TickFor(50);
    EXPECT_EQ(ScreenRequests(scope), 1);

    rig.receiver.StartRealTime();
    rig.TickFor(100);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(3));
    rig.receiver.StopCapture();
    rig.TickFor(100);
    EXPECT_EQ(ScreenRequests(scope), static_cast<int>(rig.receiver.FramesDrawn()) + 2);
}

// Frame byte 10 + 35 * line + pixel / 8 holds the pixel in bit 7 - pixel % 8, drawn at canvas
// (240 - line, 1 + pixel); the header (bytes 0-9, all 0xFF here) is never drawn.
TEST(Rendering, EachBitLandsWhereItsLineAndPixelSay) {
    struct Case {
        int byte; // -1: every picture byte
        std::uint8_t value;
        int black, x, y; // black pixels in the picture, and one pixel that must be black
    };
    for (const Case c : {Case{-1, 0x00, 0, 1, 1}, Case{-1, 0xFF, 240 * 280, 1, 1}, Case{10, 0x80, 1, 240, 1},
                         Case{45, 0x80, 1, 239, 1}, Case{8409, 0x01, 1, 1, 280}}) {
        SCOPED_TRACE(testing::Message() << c.byte << " = " << int(c.value));
        CaptureRig rig;
        rig.canvas.CreateCanvas();
        auto& frame = rig.state.m_receiveBuffer;
        std::fill(frame.begin() + 10, frame.end() - 1, c.byte < 0 ? c.value : 0);
        std::fill_n(frame.begin(), 10, 0xFF);
        if (c.byte >= 0)
            frame[c.byte] = c.value;
        rig.receiver.RenderFrame();
        const QImage& image = rig.canvas.Image();
        EXPECT_EQ(BlackPixels(image, capture::ScreenCanvas::kPictureArea), c.black);
        EXPECT_EQ(image.pixel(c.x, c.y), c.black ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        // The frame is always there, and nothing outside the screen area is ever drawn.
        EXPECT_EQ(BlackPixels(image, {0, 0, 242, 282}), c.black + 2 * 242 + 2 * 280);
        EXPECT_EQ(BlackPixels(image, {242, 0, 238, 560}) + BlackPixels(image, {0, 282, 242, 278}), 0);
    }
}
