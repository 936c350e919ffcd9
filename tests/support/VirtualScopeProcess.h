#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// Runs the virtual scope as a child process for one test: an attached bridge
// device named `name` in this test process's virtual-bridges folder.
class VirtualScopeProcess {
  public:
    // Starts <build>/bin/virtual-scope with the options plus --name and --log of its own;
    // returns once the link exists (fails the test after 5 s).
    explicit VirtualScopeProcess(std::vector<std::string> options, std::string name = "scope0");
    ~VirtualScopeProcess();
    VirtualScopeProcess(const VirtualScopeProcess&) = delete;
    VirtualScopeProcess& operator=(const VirtualScopeProcess&) = delete;

    void Unplug(); // SIGUSR1; returns once the link is gone
    void Replug(); // SIGUSR2; returns once the link is back
    void Stop();   // SIGTERM, wait for exit (link gone)
    std::vector<std::string> LogLines() const;
    // The log lines of event ev once there are at least count of them, or
    // those there are after timeoutMs. A reply's line is written just after
    // its last byte left, so a host may see the bytes before the line.
    std::vector<std::string> WaitForEvents(const std::string& ev, std::size_t count,
                                           int timeoutMs = 5000) const;
    std::string LinkPath() const;
    pid_t Pid() const;
    static std::string BridgeDirectory();

  private:
    bool WaitForLink(bool present, int timeoutMs) const;
    bool Exited(int timeoutMs);

    std::string m_name;
    std::string m_logPath;
    pid_t m_pid = -1;
};

// Value of key in a log line ("" when absent), e.g. Field(line, "ev").
std::string Field(const std::string& logLine, const std::string& key);

} // namespace testsupport
