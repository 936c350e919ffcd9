// The capture logic wired to the real driver library (bound by the real binder)
// with recording message, window and timer services, for tests without a window.
#pragma once

#include "CaptureLink.h"
#include "FrameReceiver.h"
#include "SystemClock.h"

#include <QStringList>

#include <functional>
#include <string>

namespace capturetest {

std::string BinDirectory();
std::string SubstituteDirectory(const std::string& variant);

struct RecordingMessages : capture::MessagePort {
    QStringList shown;
    std::function<void()> whileShown; // runs "behind" the box, like timer ticks in a nested loop
    bool answerYes = true;
    void ShowMessage(const QString& text) override;
    bool AskYesNo(const QString& question) override;
};

struct CountingWindow : capture::WindowPort {
    int invalidations = 0;
    void InvalidateWindow() override { ++invalidations; }
};

struct RecordingTimers : capture::TimerPort {
    bool running = false;
    int period = 0;
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;
};

// Real time, but the clock can be pushed forward to reach time-outs without waiting.
struct AdjustableClock : capture::SystemClock {
    std::uint32_t offset = 0;
    std::uint32_t TickCount() override { return capture::SystemClock::TickCount() + offset; }
};

class CaptureRig {
  public:
    explicit CaptureRig(const std::string& libraryDir = BinDirectory(),
                        const std::string& fileName = capture::DriverTable::kLibraryFileName);

    int Open() { return link.OpenLink(); }
    void Tick() { link.OnCaptureTimer(capture::CaptureLink::kCaptureTimer); }
    // Ticks about once a millisecond until done() holds; false after timeoutMs.
    bool TickUntil(const std::function<bool()>& done, int timeoutMs = 5000);
    void TickFor(int ms);

    capture::DriverTable driver;
    capture::CaptureState state;
    capture::ScreenCanvas canvas;
    RecordingMessages messages;
    CountingWindow window;
    RecordingTimers timers;
    AdjustableClock clock;
    capture::FrameReceiver receiver;
    capture::CaptureLink link;
};

// Screen requests the virtual scope has logged.
int ScreenRequests(const std::vector<std::string>& logLines);
// Open file descriptors of this process.
int OpenDescriptors();

} // namespace capturetest
