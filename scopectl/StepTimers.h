// The window timers without a window: each identifier has a deadline on the
// monotonic clock, counted from when it was started, and Wait sleeps until the
// earliest one. A step armed for 1 ms fires 1 ms after it was armed, so work
// done after arming overlaps the wait instead of adding to it.
#pragma once

#include "WindowTimers.h"

#include <cstdint>
#include <map>
#include <optional>

namespace scopectl {

class StepTimers : public appsupport::WindowTimers {
  public:
    void Start(int id, int periodMs, Kind kind) override;
    void Stop(int id) override;

    bool Armed(int id) const { return m_timers.count(id) != 0; }
    // Sleeps until the earliest timer is due and returns its identifier (a
    // repeating timer is re-armed one period on); nothing when no timer runs
    // or when the sleep was interrupted by a signal.
    std::optional<int> Wait();

    static std::int64_t NowNs();

  private:
    struct Timer {
        std::int64_t dueNs;
        std::int64_t periodNs;
        bool repeating;
    };
    std::map<int, Timer> m_timers;
};

} // namespace scopectl
