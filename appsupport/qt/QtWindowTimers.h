// Window timers on Qt: one timer per identifier, created on first use, all
// delivered to one handler on the window thread. Each is a kernel timer (a
// timerfd watched by a QSocketNotifier) that fires exactly its period after it
// was started, to the microsecond: the boot-loader protocol wants its 1 ms gap
// between steps, and Quorvex polls every millisecond. Also the one place that
// knows how timers behave under a modal loop.
#pragma once

#include "WindowTimers.h"

#include <QSocketNotifier>
// Users of the timers schedule their own one-off work with QTimer beside them.
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace appsupport {

class QtWindowTimers : public WindowTimers {
  public:
    using Handler = std::function<void(int id)>;

    explicit QtWindowTimers(Handler onTimer);
    ~QtWindowTimers() override;
    QtWindowTimers(const QtWindowTimers&) = delete;
    QtWindowTimers& operator=(const QtWindowTimers&) = delete;

    void Start(int id, int periodMs, Kind kind) override;
    void Stop(int id) override;
    bool IsActive(int id) const;

    // Runs a modal loop (message box, file or print dialog, menu). Timers keep
    // being delivered under it; but, as with Qt's own timers, a repeating timer
    // is not delivered again while its own handler runs, so when the loop is
    // opened from inside a repeating timer's tick, that tick is let through
    // for the time of the loop: the ticks go on behind it.
    void RunModal(const std::function<void()>& show);

  private:
    struct Timer {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        bool active = false;
        bool repeating = false;
        bool held = false; // a repeating timer whose handler runs
    };

    Timer& Make(int id);
    void Expired(int id);
    void Deliver(int id);

    Handler m_onTimer;
    std::map<int, Timer> m_timers;
    std::vector<int> m_delivering; // identifiers whose handler is running, innermost last
};

} // namespace appsupport
