// Opening the bridge again after a lost link, by the same rule in the window
// and on the command line.
#pragma once

#include "CaptureState.h"
#include "Clock.h"
#include "DriverTable.h"
#include "FrameReceiver.h"

#include <cstdint>

namespace capture {

class LinkReopener {
  public:
    // A scope that is counted but could not be opened is tried again this often
    // (each failed open prints its reason on standard error).
    static constexpr std::uint32_t kRetryMs = 1000;

    LinkReopener(DriverTable& driver, CaptureState& state, FrameReceiver& receiver, appsupport::Clock& clock)
        : m_driver(driver), m_state(state), m_receiver(receiver), m_clock(clock) {}

    // The device was opened, or an open was tried, just now.
    void Opened() { m_lastOpenAt = m_clock.TickCount(); }
    // The link failed, or no device has been open since a try kRetryMs ago.
    bool Due() const;
    // Closes the old handle first (left open it leaks a descriptor per loss and
    // can make the device refuse our own new open), opens device again, and the
    // receiver gives up the request that went with the old handle. A failed
    // open leaves no handle, to be tried again later.
    void Reopen(int device);

  private:
    DriverTable& m_driver;
    CaptureState& m_state;
    FrameReceiver& m_receiver;
    appsupport::Clock& m_clock;
    std::uint32_t m_lastOpenAt = 0;
};

} // namespace capture
