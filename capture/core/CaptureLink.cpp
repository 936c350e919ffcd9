#include "CaptureLink.h"

#include <algorithm>

namespace capture {

CaptureLink::CaptureLink(CaptureState& state, DriverTable& driver, FrameReceiver& receiver,
                         ScreenCanvas& canvas, appsupport::Messages& messages,
                         appsupport::WindowTimers& timers, appsupport::Clock& clock, Binding binding)
    : m_state(state), m_driver(driver), m_receiver(receiver), m_canvas(canvas), m_messages(messages),
      m_timers(timers), m_clock(clock), m_binding(std::move(binding)) {}

int CaptureLink::OpenLink() {
    m_state.m_driverHandle = nullptr;
    m_state.m_requestPending = 0;
    m_state.m_singleShot = 0;
    std::fill(m_state.m_receiveBuffer.begin(), m_state.m_receiveBuffer.end(), 0);

    if (m_driver.BindDriverLibrary(m_binding.fileName, m_binding.searchDirs) != 1) {
        m_messages.ShowMessage("USB drivers not installed.");
        return 0;
    }
    m_driver.m_open(0, &m_state.m_driverHandle);
    m_reopener.Opened();
    m_state.m_disconnected = 0;
    m_canvas.CreateCanvas();
    m_timers.Start(kCaptureTimer, kCapturePeriodMs, appsupport::WindowTimers::Kind::Repeating);
    m_timerRunning = true;
    return 1;
}

void CaptureLink::OnCaptureTimer(int timerId) {
    if (timerId != kCaptureTimer)
        return;
    SuperviseLink();
    m_receiver.ReceiveFrame();
}

void CaptureLink::SuperviseLink() {
    DWORD count = 0;
    if (m_driver.m_listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return;
    if (count == 0 && m_state.m_disconnected == 0) {
        // Set first: the ticks that run while the message is open must not repeat it.
        m_state.m_disconnected = 1;
        m_messages.ShowMessage("Could not connect to Scope on USB.");
    } else if (count != 0 && m_state.m_disconnected == 1) {
        m_state.m_disconnected = 0;
        m_reopener.Reopen(0);
    } else if (count != 0 && m_reopener.Due()) {
        // Gone and back between two ticks (suspend, a held-up thread, a quick
        // replug), or not openable a moment ago (the node's rights not yet set):
        // reopened as silently as after a loss that the count saw.
        m_reopener.Reopen(0);
    }
}

void CaptureLink::CloseLink() {
    if (m_timerRunning) {
        m_timers.Stop(kCaptureTimer);
        m_timerRunning = false;
    }
    m_clock.Sleep(100);
    if (m_state.m_driverHandle != nullptr && m_driver.m_close != nullptr) {
        m_driver.m_close(m_state.m_driverHandle);
        m_state.m_driverHandle = nullptr;
    }
}

} // namespace capture
