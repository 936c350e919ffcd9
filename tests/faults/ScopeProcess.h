// The virtual scope of one schedule, as a child process of the schedule's
// process: it dies with its parent and is stopped (flash file written) or
// killed when the schedule ends.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class ScopeProcess {
  public:
    ScopeProcess() = default;
    ~ScopeProcess();
    ScopeProcess(const ScopeProcess&) = delete;
    ScopeProcess& operator=(const ScopeProcess&) = delete;

    // Starts program with the options plus --name scope0 and --log logFile, its
    // output into errFile; returns once its link exists. Empty on success.
    std::string Start(const std::string& program, std::vector<std::string> options,
                      const std::string& logFile, const std::string& errFile);
    // SIGTERM and a wait for the exit, SIGKILL after 5 s. True when it exited by itself.
    bool Stop();

    // Empty while it runs; how it ended when it ended by itself.
    std::string Ended();
    // The link leads to a pseudo-terminal: the scope is plugged in.
    bool Plugged() const;
    std::string LinkPath() const;

  private:
    bool Reaped(int timeoutMs);

    pid_t m_pid = -1;
};
