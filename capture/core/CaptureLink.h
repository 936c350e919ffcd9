// Link start, the link watch of every tick and the close at window destruction:
// tells the user once when the scope has gone and reopens it silently when it returns.
#pragma once

#include "CapturePorts.h"
#include "CaptureState.h"
#include "Clock.h"
#include "DriverTable.h"
#include "FrameReceiver.h"
#include "Messages.h"
#include "ScreenCanvas.h"
#include "WindowTimers.h"

#include <string>
#include <vector>

namespace capture {

// Opens bridge device again after a lost link: the old handle is closed first
// (left open it leaks a descriptor per loss and can make the device refuse our
// own new open), and the receiver gives up the request that went with it. A
// failed open leaves no handle, to be tried again later.
void ReopenDevice(DriverTable& driver, CaptureState& state, FrameReceiver& receiver, int device);

class CaptureLink {
  public:
    static constexpr int kCaptureTimer = 1;
    static constexpr int kCapturePeriodMs = 1;
    // A scope that is counted but could not be opened is tried again this often
    // (each failed open prints its reason on standard error).
    static constexpr std::uint32_t kReopenRetryMs = 1000;

    struct Binding {
        std::string fileName = DriverTable::kLibraryFileName;
        std::vector<std::string> searchDirs = DriverTable::ProgramSearchDirs();
    };

    CaptureLink(CaptureState& state, DriverTable& driver, FrameReceiver& receiver, ScreenCanvas& canvas,
                appsupport::Messages& messages, appsupport::WindowTimers& timers, appsupport::Clock& clock,
                Binding binding);

    // 1 when the driver is bound (device opened, canvas created, timer running); 0 after
    // the user has been told that the drivers are missing.
    int OpenLink();
    void OnCaptureTimer(int timerId);
    void SuperviseLink();
    void CloseLink();

  private:
    void OpenDevice();
    bool ReopenDue();

    CaptureState& m_state;
    DriverTable& m_driver;
    FrameReceiver& m_receiver;
    ScreenCanvas& m_canvas;
    appsupport::Messages& m_messages;
    appsupport::WindowTimers& m_timers;
    appsupport::Clock& m_clock;
    Binding m_binding;
    bool m_timerRunning = false;
    std::uint32_t m_lastOpenAt = 0;
};

} // namespace capture
