// Starts the virtual scope as a child process for tests and benchmarks, and
// controls it as a person at the device would: unplug, replug, stop.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scopelauncher {

// A private runtime folder for this process (so that its virtual bridges are
// seen by nobody else): made and named in XDG_RUNTIME_DIR, removed again.
struct PrivateRuntimeDir {
    explicit PrivateRuntimeDir(const std::string& prefix)
        : path((std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string()) {
        if (!mkdtemp(path.data()) || setenv("XDG_RUNTIME_DIR", path.c_str(), 1) != 0)
            path.clear();
    }
    ~PrivateRuntimeDir() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    std::string path; // empty when the folder could not be made
};

// The virtual scope beside this program, run with the options plus --name and
// --log of its own. It dies with this process; descriptors of ours never reach
// it. Calls that can fail return empty on success, else what went wrong.
class ScopeLauncher {
  public:
    static constexpr int kWaitMs = 5000;
    // Stop's answer when no scope ran, or when it had to be killed after kWaitMs.
    static constexpr int kNotRunning = -1;
    static constexpr int kKilled = -2;

    ScopeLauncher() = default;
    ~ScopeLauncher();
    ScopeLauncher(const ScopeLauncher&) = delete;
    ScopeLauncher& operator=(const ScopeLauncher&) = delete;

    // Once: returns when the device link exists; a scope that did not get that far is stopped.
    // Its log goes to logPath (kept) or to a file of its own (removed with the launcher), its
    // standard error to errorPath when one is given.
    std::string Start(const std::vector<std::string>& options, const std::string& name = "scope0",
                      const std::string& logPath = {}, const std::string& errorPath = {});
    // SIGUSR1 and SIGUSR2; they return once the link is gone, or back.
    std::string Unplug() { return SignalAndWait(SIGUSR1, false, "is still there 5 s after unplug"); }
    std::string Replug() { return SignalAndWait(SIGUSR2, true, "did not come back within 5 s"); }
    // Sends signal and waits for the exit: its code, 128 + the signal's number
    // when a signal ended it, or kNotRunning / kKilled.
    int Stop(int signal = SIGTERM);

    // The link exists (and leads to a pseudo-terminal) as wanted within timeoutMs.
    bool WaitForLink(bool present, int timeoutMs) const;
    bool Plugged() const { return WaitForLink(true, 0); }
    // Empty while it runs (or was never started); how it ended when it ended by itself.
    std::string Ended();
    std::vector<std::string> LogLines() const;
    // The log lines of event ev once there are at least count of them, or
    // those there are after timeoutMs. A reply's line is written just after
    // its last byte left, so a host may see the bytes before the line.
    std::vector<std::string> WaitForEvents(const std::string& ev, std::size_t count,
                                           int timeoutMs = kWaitMs) const;
    std::string LinkPath() const;
    pid_t Pid() const { return m_pid; }

    static std::string Program();
    static std::string BridgeDirectory();

  private:
    std::string SignalAndWait(int signal, bool linked, const char* otherwise);

    std::string m_name = "scope0";
    std::string m_logPath;
    bool m_ownLog = true;
    pid_t m_pid = -1;
};

// Value of key in a log line ("" when absent), e.g. Field(line, "ev").
std::string Field(const std::string& logLine, const std::string& key);

} // namespace scopelauncher
