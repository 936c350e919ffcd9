#include "QtWindowTimers.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace appsupport {

namespace {
timespec Milliseconds(int ms) {
    return {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
}
} // namespace

QtWindowTimers::QtWindowTimers(Handler onTimer) : m_onTimer(std::move(onTimer)) {}

QtWindowTimers::~QtWindowTimers() {
    for (auto& [id, timer] : m_timers) {
        timer.notifier.reset();
        if (timer.fd >= 0)
            close(timer.fd);
    }
}

QtWindowTimers::Timer& QtWindowTimers::Make(int id) {
    Timer& timer = m_timers[id];
    if (timer.fd < 0) {
        timer.fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (timer.fd < 0)
            qFatal("window timer: timerfd_create failed (errno %d)", errno);
        // Enabled for good: a disarmed timer is never readable, and turning a
        // notifier on and off costs the event loop a wake-up each time.
        timer.notifier = std::make_unique<QSocketNotifier>(timer.fd, QSocketNotifier::Read);
        QObject::connect(timer.notifier.get(), &QSocketNotifier::activated, [this, id] { Expired(id); });
    }
    return timer;
}

void QtWindowTimers::Start(int id, int periodMs, Kind kind) {
    Timer& timer = Make(id);
    // 0 fires at once, on the next pass of the event loop: a zero it_value
    // would disarm the kernel timer instead.
    const timespec period = periodMs > 0 ? Milliseconds(periodMs) : timespec{0, 1};
    itimerspec setting{};
    setting.it_value = period;
    if (kind == Kind::Repeating)
        setting.it_interval = period;
    // Arming anew also forgets expirations not yet read.
    timerfd_settime(timer.fd, 0, &setting, nullptr);
    timer.active = true;
    timer.repeating = kind == Kind::Repeating;
    timer.held = false;
}

void QtWindowTimers::Stop(int id) {
    const auto found = m_timers.find(id);
    if (found == m_timers.end() || !found->second.active)
        return;
    Timer& timer = found->second;
    const itimerspec off{};
    timerfd_settime(timer.fd, 0, &off, nullptr);
    timer.active = false;
    timer.held = false;
}

bool QtWindowTimers::IsActive(int id) const {
    const auto found = m_timers.find(id);
    return found != m_timers.end() && found->second.active;
}

void QtWindowTimers::Expired(int id) {
    Timer& timer = m_timers.at(id);
    std::uint64_t expirations = 0;
    // Nothing to read: restarted or stopped since the descriptor was seen ready.
    if (read(timer.fd, &expirations, sizeof expirations) != sizeof expirations || !timer.active)
        return;
    // A tick that comes while its own handler runs is dropped, as Qt drops it.
    if (timer.held)
        return;
    if (!timer.repeating)
        timer.active = false;
    Deliver(id);
}

void QtWindowTimers::Deliver(int id) {
    Timer& timer = m_timers.at(id);
    // Held while its handler runs, as Qt holds its own timers; a handler that
    // starts or stops it decides for itself.
    const bool hold = timer.repeating && !timer.held;
    if (hold)
        timer.held = true;
    m_delivering.push_back(id);
    m_onTimer(id);
    m_delivering.pop_back();
    if (hold)
        timer.held = false;
}

void QtWindowTimers::RunModal(const std::function<void()>& show) {
    Timer* ticking = nullptr;
    for (auto id = m_delivering.rbegin(); id != m_delivering.rend() && !ticking; ++id) {
        Timer& timer = m_timers.at(*id);
        if (timer.repeating && timer.active && timer.held)
            ticking = &timer;
    }
    if (!ticking) {
        show();
        return;
    }
    // Let the tick through under the loop, and hold it again after.
    ticking->held = false;
    show();
    ticking->held = true;
}

} // namespace appsupport
