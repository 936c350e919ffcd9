#include "StepTimers.h"

#include <cerrno>
#include <ctime>

namespace scopectl {

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;
} // namespace

std::int64_t StepTimers::NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNsPerS + now.tv_nsec;
}

void StepTimers::Start(int id, int periodMs, Kind kind) {
    const std::int64_t period = static_cast<std::int64_t>(periodMs) * kNsPerMs;
    m_timers[id] = Timer{NowNs() + period, period, kind == Kind::Repeating};
}

void StepTimers::Stop(int id) {
    m_timers.erase(id);
}

std::optional<int> StepTimers::Wait() {
    if (m_timers.empty())
        return std::nullopt;
    auto next = m_timers.begin();
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
        if (it->second.dueNs < next->second.dueNs)
            next = it;
    const timespec due{static_cast<time_t>(next->second.dueNs / kNsPerS),
                       static_cast<long>(next->second.dueNs % kNsPerS)};
    if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR)
        return std::nullopt;
    const int id = next->first;
    if (next->second.repeating) {
        // Ticks missed while the program was held up are not made up for.
        const std::int64_t now = NowNs();
        next->second.dueNs += next->second.periodNs;
        if (next->second.dueNs < now)
            next->second.dueNs = now + next->second.periodNs;
    }
    return id;
}

} // namespace scopectl
