#include "QtStepTimers.h"

QtStepTimers::QtStepTimers(Handler onTimer) : m_onTimer(std::move(onTimer)) {}

QtStepTimers::~QtStepTimers() = default;

void QtStepTimers::Arm(int id, int periodMs) {
    std::unique_ptr<QTimer>& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [this, id] { m_onTimer(id); });
    }
    timer->start(periodMs);
}

void QtStepTimers::Stop(int id) {
    const auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
}

bool QtStepTimers::IsArmed(int id) const {
    const auto found = m_timers.find(id);
    return found != m_timers.end() && found->second->isActive();
}
