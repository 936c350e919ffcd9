// Window timers by identifier: Quorvex polls on one repeating timer, Haldrin
// arms one single-shot step timer at a time. Starting a running identifier
// restarts it; stopping an idle one does nothing.
#pragma once

namespace appsupport {

class WindowTimers {
  public:
    enum class Kind { Repeating, Once };

    virtual ~WindowTimers() = default;
    virtual void Start(int id, int periodMs, Kind kind) = 0;
    virtual void Stop(int id) = 0;
};

} // namespace appsupport
