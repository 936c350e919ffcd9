// The platform's millisecond tick count, truncated to 32 bits like the classic one.
#pragma once

#include "TickClock.h"

#include <chrono>

class SteadyTickClock : public TickClock {
  public:
    std::uint32_t Now() override {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
};
