// The millisecond tick count: 32 bits, wrapping.
#pragma once

#include <cstdint>

class TickClock {
  public:
    virtual ~TickClock() = default;
    virtual std::uint32_t Now() = 0;
};
