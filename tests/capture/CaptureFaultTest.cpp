// Quorvex under the faults of a workshop link: late, lost, short, stalled and
// noisy replies, unplug and replug, a scope that goes and comes back between two
// ticks. Every picture drawn must be one whole frame, and real time must go on.
#include "CaptureRig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using capturetest::CaptureRig;
using Options = std::vector<std::string>;

constexpr int kLines = 240;
constexpr int kPixelsPerLine = 280;
constexpr int kBytesPerLine = 35;

// With the sequence pattern every line holds its frame's number and the number's
// complement, repeated. The number when every line of the canvas agrees on it.
std::optional<std::uint32_t> WholeFrameNumber(const QImage& canvas) {
    std::optional<std::uint32_t> number;
    for (int line = 0; line < kLines; ++line) {
        std::uint8_t bytes[kBytesPerLine] = {};
        for (int p = 0; p < kPixelsPerLine; ++p)
            if ((canvas.pixel(240 - line, 1 + p) & 0xFFFFFF) == 0)
                bytes[p / 8] |= static_cast<std::uint8_t>(0x80 >> (p % 8));
        const std::uint32_t first =
            std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | bytes[2] << 8 | bytes[3];
        if (!number)
            number = first;
        for (int i = 0; i < kBytesPerLine; ++i) {
            const std::uint32_t word = (i / 4) % 2 == 0 ? *number : ~*number;
            if (bytes[i] != static_cast<std::uint8_t>(word >> (24 - 8 * (i % 4))))
                return std::nullopt;
        }
    }
    return number;
}

struct Watch {
    unsigned frames = 0;
    unsigned torn = 0;
};

// Ticks about once a millisecond until done() holds or timeoutMs has passed,
// checking every picture drawn meanwhile.
bool TickChecking(CaptureRig& rig, Watch& watch, const std::function<bool()>& done, int timeoutMs) {
    return rig.TickUntil(
        [&] {
            if (rig.receiver.FramesDrawn() != watch.frames) {
                watch.frames = rig.receiver.FramesDrawn();
                watch.torn += !WholeFrameNumber(rig.canvas.Image());
            }
            return done();
        },
        timeoutMs);
}

// True once `more` further frames have been drawn, within 5 s.
bool FramesResume(CaptureRig& rig, Watch& watch, unsigned more) {
    const unsigned before = watch.frames;
    return TickChecking(
        rig, watch, [&] { return watch.frames >= before + more; }, 5000);
}

Options SequenceScope(Options faults) {
    faults.insert(faults.begin(), {"--picture", "pattern:sequence"});
    return faults;
}

// The sequence picture streaming in real time, a few whole frames in.
struct Streaming {
    testsupport::VirtualScopeProcess scope{SequenceScope({})};
    CaptureRig rig;
    Watch watch;
    Streaming() {
        EXPECT_EQ(rig.Open(), 1);
        rig.receiver.StartRealTime();
        EXPECT_TRUE(FramesResume(rig, watch, 3));
    }
};

int OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

TEST(CaptureFaults, NoPictureIsStitchedFromTwoRepliesAndRealTimeGoesOn) {
    struct Case {
        const char* name;
        Options faults;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::VirtualScopeProcess scope(SequenceScope(c.faults));
        CaptureRig rig;
        ASSERT_EQ(rig.Open(), 1);
        rig.receiver.StartRealTime();
        Watch watch;
        EXPECT_TRUE(TickChecking(
            rig, watch, [&] { return watch.frames >= 60; }, 20000))
            << "real time stopped after " << watch.frames << " frames";
        EXPECT_EQ(watch.torn, 0u) << "of " << watch.frames << " frames";
        EXPECT_TRUE(rig.shown.isEmpty());
        rig.link.CloseLink();
    }
}

TEST(CaptureFaults, FiftyUnplugCyclesResumeEveryTimeAndLeakNothing) {
    Streaming s;
    auto& [scope, rig, watch] = s;
    const int descriptors = OpenDescriptors();
    for (int cycle = 1; cycle <= 50; ++cycle) {
        scope.Unplug();
        ASSERT_TRUE(TickChecking(
            rig, watch, [&] { return rig.state.m_disconnected == 1; }, 5000))
            << cycle;
        scope.Replug();
        ASSERT_TRUE(FramesResume(rig, watch, 2)) << "no frame after replug " << cycle;
        ASSERT_EQ(OpenDescriptors(), descriptors) << "cycle " << cycle;
    }
    EXPECT_EQ(rig.shown.size(), 50);
    EXPECT_EQ(watch.torn, 0u);
}

// Gone and back without a tick in between: the count never shows 0, only the
// dead handle tells. Reconnected without a word, and real time goes on.
TEST(CaptureFaults, InstantReplugReconnectsSilently) {
    Streaming s;
    auto& [scope, rig, watch] = s;
    for (int round = 0; round < 3; ++round) {
        scope.Unplug();
        scope.Replug();
        EXPECT_TRUE(FramesResume(rig, watch, 3)) << "round " << round;
    }
    EXPECT_TRUE(rig.shown.isEmpty());
    EXPECT_EQ(watch.torn, 0u);
}

// The program is stopped (as in a laptop's suspend) while the scope is unplugged
// and plugged in again; once it runs again it must carry on by itself.
TEST(CaptureFaults, StoppedProcessCarriesOnAfterUnplugAndReplug) {
    testsupport::VirtualScopeProcess scope(SequenceScope({}));
    int ready[2], resumed[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(resumed), 0);
    const pid_t child = fork();
    if (child == 0) {
        CaptureRig rig;
        Watch watch;
        if (rig.Open() != 1)
            _exit(10);
        rig.receiver.StartRealTime();
        if (!FramesResume(rig, watch, 3))
            _exit(11);
        if (write(ready[1], "r", 1) != 1)
            _exit(12);
        fcntl(resumed[0], F_SETFL, O_NONBLOCK);
        char token = 0;
        TickChecking(
            rig, watch, [&] { return read(resumed[0], &token, 1) == 1; }, 10000);
        if (!FramesResume(rig, watch, 5))
            _exit(13);
        _exit(!rig.shown.isEmpty() ? 14 : watch.torn != 0 ? 15 : 0);
    }
    char token = 0;
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
    EXPECT_TRUE(WIFEXITED(status));
    // 13: no frame after the stop; 14: a message was shown; 15: a torn picture.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
