// Step timers on Qt: one single-shot, precise QTimer per identifier, created
// on first use; arming an armed identifier restarts it.
#pragma once

#include "StepTimers.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QtStepTimers : public StepTimers {
  public:
    using Handler = std::function<void(int id)>;

    explicit QtStepTimers(Handler onTimer);
    ~QtStepTimers() override;

    void Arm(int id, int periodMs) override;
    void Stop(int id) override;
    bool IsArmed(int id) const;

  private:
    Handler m_onTimer;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
};
