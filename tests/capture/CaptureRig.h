// The capture logic bound to a real driver library by the real binder, with recording
// message, window and timer services, for tests without a window.
#pragma once

#include "CaptureLink.h"
#include "SteadyClock.h"
#include "VirtualScopeProcess.h"

#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace capturetest {

// Virtual scope options for tests where the link model does not matter.
inline const std::vector<std::string> kFastLink = {"--throughput", "0", "--latency-ms", "0"};

struct RecordingPorts : appsupport::Messages, capture::WindowPort, appsupport::WindowTimers {
    void ShowMessage(const std::string& text) override { shown << QString::fromStdString(text); }
    bool AskYesNo(const std::string& question) override { return ShowMessage(question), answerYes; }
    void InvalidateWindow() override { ++invalidations; }
    void Start(int, int, Kind) override { timerRunning = true; }
    void Stop(int) override { timerRunning = false; }
    QStringList shown;
    bool answerYes = true, timerRunning = false;
    int invalidations = 0;
};

struct CaptureRig : RecordingPorts, appsupport::SteadyClock {
    explicit CaptureRig(const std::string& dir = SCOPE_BIN_DIR, const std::string& file = "libftd2xx.so")
        : link(state, driver, receiver, canvas, *this, *this, *this, {file, {dir}}) {}
    // Real time, but it can be pushed forward to reach time-outs without waiting.
    std::uint32_t TickCount() override { return appsupport::SteadyClock::TickCount() + clockOffset; }
    // Ticks about once a millisecond until done() holds; false after timeoutMs.
    bool TickUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (; !done() && std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            link.OnCaptureTimer(capture::CaptureLink::kCaptureTimer);
        return done();
    }
    void TickFor(int ms) {
        TickUntil([] { return false; }, ms);
    }
    bool TickUntilFrames(unsigned n) {
        return TickUntil([&] { return receiver.FramesDrawn() >= n; });
    }

    capture::DriverTable driver;
    capture::CaptureState state;
    capture::ScreenCanvas canvas;
    std::uint32_t clockOffset = 0;
    capture::FrameReceiver receiver{state, driver, canvas, *this, *this};
    capture::CaptureLink link;
};

inline int BlackPixels(const QImage& image, const QRect& area) {
    int black = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            black += (image.pixel(x, y) & 0xFFFFFF) == 0;
    return black;
}

inline int OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

} // namespace capturetest
