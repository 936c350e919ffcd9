// Quorvex under the faults of a workshop link: late, lost, short, stalled and noisy replies, unplug and
// replug, a scope that goes and comes back between two ticks, a program stopped meanwhile. Every picture
// drawn must be one whole frame of the sequence picture (each line: its frame's number and the number's
// complement, repeated), and real time must go on.
#include "CaptureRig.h"

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using capturetest::CaptureRig;
using Options = std::vector<std::string>;

// The frame number when every line of the canvas agrees on it.
std::optional<std::uint32_t> WholeFrameNumber(const QImage& canvas) {
    std::optional<std::uint32_t> number;
    for (int line = 0; line < 240; ++line) {
        std::uint8_t bytes[35] = {};
        for (int p = 0; p < 280; ++p)
            if ((canvas.pixel(240 - line, 1 + p) & 0xFFFFFF) == 0)
                bytes[p / 8] |= static_cast<std::uint8_t>(0x80 >> (p % 8));
        number = number.value_or(std::uint32_t(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
        for (int i = 0; i < 35; ++i)
            if (bytes[i] !=
                static_cast<std::uint8_t>(((i / 4) % 2 ? ~*number : *number) >> (24 - 8 * (i % 4))))
                return std::nullopt;
    }
    return number;
}

// A rig streaming the sequence picture in real time, which checks every picture it draws.
struct Streaming : CaptureRig {
    Streaming() { receiver.StartRealTime(); }
    void InvalidateWindow() override { ++invalidations, torn += !WholeFrameNumber(canvas.Image()); }
    // True once `more` further frames have been drawn, within timeoutMs.
    bool FramesResume(unsigned more, int timeoutMs = 5000) {
        const unsigned until = receiver.FramesDrawn() + more;
        return TickUntil([&] { return receiver.FramesDrawn() >= until; }, timeoutMs);
    }
    unsigned torn = 0;
};

const Options kSequence = {"--picture", "pattern:sequence"};

TEST(CaptureFaults, NoPictureIsStitchedFromTwoRepliesAndRealTimeGoesOn) {
    const std::pair<const char*, Options> cases[] = {
        {"late", {"--fault", "late@5,30"}},
        {"dropped", {"--fault", "drop@5,6,30"}},
        {"short", {"--fault", "short@5,9,30"}},
        {"wrong status", {"--fault", "status@5"}},
        {"stalled past the request time-out", {"--fault", "stall@5,30", "--stall-ms", "1500"}},
        {"stalled briefly", {"--fault", "stall@5,6", "--stall-ms", "300"}},
        {"noisy", {"--fault", "noise@5,6,7,20"}},
        {"random mix",
         {"--fault-seed", "11", "--fault-rate", "0.05", "--fault-kinds", "late,drop,short,stall,noise"}},
    };
    for (auto [name, options] : cases) {
        SCOPED_TRACE(name);
        options.insert(options.begin(), kSequence.begin(), kSequence.end());
        testsupport::VirtualScopeProcess scope(options);
        Streaming rig;
        EXPECT_TRUE(rig.FramesResume(60, 20000)) << "stopped after " << rig.receiver.FramesDrawn();
        EXPECT_EQ(rig.torn, 0u) << "of " << rig.receiver.FramesDrawn() << " frames";
        EXPECT_TRUE(rig.shown.isEmpty());
        rig.link.CloseLink();
    }
}

// One message per loss, no descriptor left behind. Gone and back without a tick in between (the
// count never shows 0, only the dead handle tells): reconnected without a word. Closing ends the
// timer and releases the handle's tty and its wake-up event.
TEST(CaptureFaults, UnplugCyclesAndInstantReplugsResumeEveryTimeAndLeakNothing) {
    testsupport::VirtualScopeProcess scope(kSequence);
    Streaming rig;
    ASSERT_TRUE(rig.FramesResume(3));
    const int descriptors = capturetest::OpenDescriptors();
    for (int cycle = 1; cycle <= 50; ++cycle) {
        scope.Unplug();
        ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 1; })) << cycle;
        ASSERT_EQ(rig.shown.size(), cycle);
        scope.Replug();
        ASSERT_TRUE(rig.FramesResume(2)) << "no frame after replug " << cycle;
        ASSERT_EQ(capturetest::OpenDescriptors(), descriptors) << "cycle " << cycle;
    }
    for (int round = 0; round < 3; ++round)
        EXPECT_TRUE(scope.Unplug().empty() && scope.Replug().empty() && rig.FramesResume(3)) << round;
    EXPECT_EQ(rig.shown, QStringList(50, "Could not connect to Scope on USB."));
    EXPECT_EQ(rig.torn, 0u);
    EXPECT_EQ(capturetest::OpenDescriptors(), descriptors);
    rig.link.CloseLink();
    EXPECT_FALSE(rig.timerRunning);
    EXPECT_EQ(capturetest::OpenDescriptors(), descriptors - 2);
}

// The program is stopped (as in a laptop's suspend) while the scope is unplugged and plugged
// in again; once it runs again it must carry on by itself.
TEST(CaptureFaults, StoppedProcessCarriesOnAfterUnplugAndReplug) {
    testsupport::VirtualScopeProcess scope(kSequence);
    int ready[2], resumed[2];
    ASSERT_EQ(pipe(ready) | pipe(resumed), 0);
    char token = 0;
    const pid_t child = fork();
    if (child == 0) {
        Streaming rig;
        if (!rig.FramesResume(3) || write(ready[1], "r", 1) != 1)
            _exit(11);
        fcntl(resumed[0], F_SETFL, O_NONBLOCK);
        rig.TickUntil([&] { return read(resumed[0], &token, 1) == 1; }, 10000);
        _exit(!rig.FramesResume(5) ? 13 : !rig.shown.isEmpty() ? 14 : rig.torn != 0 ? 15 : 0);
    }
    ASSERT_EQ(read(ready[0], &token, 1), 1);
    kill(child, SIGSTOP);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    scope.Unplug();
    scope.Replug();
    kill(child, SIGCONT);
    ASSERT_EQ(write(resumed[1], "c", 1), 1);
    waitpid(child, &status, 0);
    // 11: no frame before the stop; 13: none after it; 14: a message was shown; 15: a torn picture.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

} // namespace
