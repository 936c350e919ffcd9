// The process's monotonic millisecond clock and blocking wait.
#pragma once

#include "CapturePorts.h"

namespace capture {

class SystemClock : public ClockPort {
  public:
    std::uint32_t TickCount() override;
    void Sleep(int ms) override;
};

} // namespace capture
