// The millisecond tick count (32 bits, wrapping) and the blocking wait of the
// programs' single thread.
#pragma once

#include <cstdint>

namespace appsupport {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(int ms) = 0;
};

} // namespace appsupport
