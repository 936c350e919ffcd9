// Link start, the link watch of every tick and the close at window destruction:
// tells the user once when the scope has gone and reopens it silently when it returns.
#pragma once

#include "CapturePorts.h"
#include "CaptureState.h"
#include "Clock.h"
#include "DriverTable.h"
#include "FrameReceiver.h"
#include "LinkReopener.h"
#include "Messages.h"
#include "ScreenCanvas.h"
#include "WindowTimers.h"

#include <string>
#include <vector>

namespace capture {

class CaptureLink {
  public:
    static constexpr int kCaptureTimer = 1;
    static constexpr int kCapturePeriodMs = 1;

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
    CaptureState& m_state;
    DriverTable& m_driver;
    FrameReceiver& m_receiver;
    ScreenCanvas& m_canvas;
    appsupport::Messages& m_messages;
    appsupport::WindowTimers& m_timers;
    appsupport::Clock& m_clock;
    Binding m_binding;
    bool m_timerRunning = false;
    LinkReopener m_reopener{m_driver, m_state, m_receiver, m_clock};
};

} // namespace capture
