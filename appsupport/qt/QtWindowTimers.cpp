#include "QtWindowTimers.h"

namespace appsupport {

QtWindowTimers::QtWindowTimers(Handler onTimer) : m_onTimer(std::move(onTimer)) {}

QtWindowTimers::~QtWindowTimers() = default;

void QtWindowTimers::Start(int id, int periodMs, Kind kind) {
    std::unique_ptr<QTimer>& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [this, id] { Deliver(id); });
    }
    timer->setSingleShot(kind == Kind::Once);
    timer->start(periodMs);
}

void QtWindowTimers::Stop(int id) {
    const auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
}

bool QtWindowTimers::IsActive(int id) const {
    const auto found = m_timers.find(id);
    return found != m_timers.end() && found->second->isActive();
}

void QtWindowTimers::Deliver(int id) {
    m_delivering.push_back(id);
    m_onTimer(id);
    m_delivering.pop_back();
}

void QtWindowTimers::RunModal(const std::function<void()>& show) {
    const QTimer* ticking = nullptr;
    int tickingId = 0;
    for (auto id = m_delivering.rbegin(); id != m_delivering.rend() && !ticking; ++id) {
        const QTimer* timer = m_timers.at(*id).get();
        if (!timer->isSingleShot() && timer->isActive()) {
            ticking = timer;
            tickingId = *id;
        }
    }
    if (!ticking) {
        show();
        return;
    }
    QTimer relay;
    relay.setTimerType(Qt::PreciseTimer);
    QObject::connect(&relay, &QTimer::timeout, [this, tickingId] { Deliver(tickingId); });
    relay.start(ticking->interval());
    show();
}

} // namespace appsupport
