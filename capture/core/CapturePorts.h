// The small window-system services the capture logic needs, as interfaces, so
// that the logic runs the same behind the real dialog and behind tests.
#pragma once

#include <QString>

#include <cstdint>

namespace capture {

// Modal message boxes with the program's name as title; "\r\n" is a line break.
class MessagePort {
  public:
    virtual ~MessagePort() = default;
    virtual void ShowMessage(const QString& text) = 0;  // OK button
    virtual bool AskYesNo(const QString& question) = 0; // true for Yes
};

class WindowPort {
  public:
    virtual ~WindowPort() = default;
    // Repaint the whole client area from the canvas, without erasing first.
    virtual void InvalidateWindow() = 0;
};

// Window timers by identifier; starting a running identifier restarts it.
class TimerPort {
  public:
    virtual ~TimerPort() = default;
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void StopTimer(int id) = 0;
};

class ClockPort {
  public:
    virtual ~ClockPort() = default;
    virtual std::uint32_t TickCount() = 0; // milliseconds, wraps
    virtual void Sleep(int ms) = 0;
};

} // namespace capture
