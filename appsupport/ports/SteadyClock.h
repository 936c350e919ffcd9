// The process's monotonic clock, truncated to 32-bit milliseconds like the
// classic tick count.
#pragma once

#include "Clock.h"

namespace appsupport {

class SteadyClock : public Clock {
  public:
    std::uint32_t TickCount() override;
    void Sleep(int ms) override;
};

} // namespace appsupport
