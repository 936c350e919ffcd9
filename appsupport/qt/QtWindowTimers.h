// Window timers on Qt: one precise QTimer per identifier, created on first use,
// all delivered to one handler on the window thread. Also the one place that
// knows how timers behave under a modal loop.
#pragma once

#include "WindowTimers.h"

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

    void Start(int id, int periodMs, Kind kind) override;
    void Stop(int id) override;
    bool IsActive(int id) const;

    // Runs a modal loop (message box, file or print dialog, menu). Timers keep
    // being delivered under it; but Qt does not deliver a timer again while its
    // own handler runs, so when the loop is opened from inside a repeating
    // timer's tick, a relay timer keeps that tick going behind it.
    void RunModal(const std::function<void()>& show);

  private:
    void Deliver(int id);

    Handler m_onTimer;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
    std::vector<int> m_delivering; // identifiers whose handler is running, innermost last
};

} // namespace appsupport
