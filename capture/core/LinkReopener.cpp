#include "LinkReopener.h"

namespace capture {

bool LinkReopener::Due() const {
    return m_state.m_linkFailed ||
           (m_state.m_driverHandle == nullptr && m_clock.TickCount() - m_lastOpenAt >= kRetryMs);
}

void LinkReopener::Reopen(int device) {
    Opened();
    if (m_state.m_driverHandle != nullptr) {
        m_driver.m_close(m_state.m_driverHandle);
        m_state.m_driverHandle = nullptr;
    }
    m_state.m_linkFailed = false;
    if (m_driver.m_open(device, &m_state.m_driverHandle) != FT_OK)
        m_state.m_driverHandle = nullptr;
    m_receiver.LinkReopened();
}

} // namespace capture
