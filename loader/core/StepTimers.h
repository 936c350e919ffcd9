// One-shot step timers keyed by identifier. Arming an armed identifier
// replaces its earlier arming; stopping an idle one does nothing.
#pragma once

class StepTimers {
  public:
    virtual ~StepTimers() = default;
    virtual void Arm(int id, int periodMs) = 0;
    virtual void Stop(int id) = 0;
};
