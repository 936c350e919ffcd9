// The capture logic bound to a real driver library by the real binder, with recording
// message, window, timer and save dialog services, for tests without a window.
#pragma once

#include "CaptureLink.h"
#include "ImageSaver.h"
#include "SteadyClock.h"
#include "VirtualScopeProcess.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace capturetest {

// Virtual scope options for tests where the link model does not matter.
inline const std::vector<std::string> kFastLink = {"--throughput", "0", "--latency-ms", "0"};

struct RecordingPorts : appsupport::Messages, capture::FileChooserPort {
    void ShowMessage(const std::string& text) override { shown << QString::fromStdString(text); }
    bool AskYesNo(const std::string& question) override { return ShowMessage(question), answerYes; }
    // The save dialog, always offered the bitmap filter, chooses savePath.
    std::optional<QString> ChooseSaveFile(const QString& filter) override {
        EXPECT_EQ(filter, "bmp File (*.bmp)");
        return ++saveDialogs, savePath;
    }
    QStringList shown;
    bool answerYes = true;
    int saveDialogs = 0;
    std::optional<QString> savePath;
};

struct CaptureRig : RecordingPorts, capture::WindowPort, appsupport::WindowTimers, appsupport::SteadyClock {
    // Our library with the link opened; or the library named, for the test to open.
    CaptureRig() : CaptureRig(SCOPE_BIN_DIR, "libftd2xx.so") { EXPECT_EQ(link.OpenLink(), 1); }
    CaptureRig(const std::string& dir, const std::string& file)
        : link(state, driver, receiver, canvas, *this, *this, *this, {file, {dir}}) {}
    void InvalidateWindow() override { ++invalidations; }
    void Start(int, int, Kind) override { timerRunning = true; }
    void Stop(int) override { timerRunning = false; }
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

    bool timerRunning = false;
    int invalidations = 0;
    capture::DriverTable driver;
    capture::CaptureState state;
    capture::ScreenCanvas canvas;
    std::uint32_t clockOffset = 0;
    capture::FrameReceiver receiver{state, driver, canvas, *this, *this};
    capture::CaptureLink link;
};

inline int BlackPixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32); // each pixel 0xFFRRGGBB
    const auto* pixels = reinterpret_cast<const QRgb*>(rgb.constBits());
    return static_cast<int>(std::count(pixels, pixels + rgb.width() * rgb.height(), qRgb(0, 0, 0)));
}

inline int OpenDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

} // namespace capturetest
