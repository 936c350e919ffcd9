// Starts the virtual scope as a child process for tests and benchmarks, and
// controls it as a person at the device would: unplug, replug, stop.
#pragma once

#include "BridgeFolder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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
        std::error_code e;
        std::filesystem::remove_all(path, e);
    }
    PrivateRuntimeDir(PrivateRuntimeDir&&) = delete; // nor copied

    std::string path; // empty when the folder could not be made
};

// Value of key in a log line ("" when absent), e.g. Field(line, "ev").
inline std::string Field(const std::string& logLine, const std::string& key) {
    const std::size_t at = (" " + logLine).find(" " + key + "="), from = at + key.size() + 1;
    return at == std::string::npos ? "" : logLine.substr(from, logLine.find(' ', from) - from);
}

// Polls done() every 2 ms until it holds or timeoutMs have passed.
template <class Done> bool WaitUntil(int timeoutMs, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    return true;
}

// The virtual scope beside this program, run with the options plus --name and
// --log of its own. It dies with this process; descriptors of ours never reach
// it. Calls that can fail return empty on success, else what went wrong, which
// also goes to the error handler when there is one.
class ScopeLauncher {
  public:
    static constexpr int kWaitMs = 5000;
    static constexpr int kKilled = -2; // Stop's answer when it had to kill the scope; -1: none ran

    explicit ScopeLauncher(std::function<void(const std::string&)> onError = {})
        : m_onError(onError ? std::move(onError) : [](const std::string&) {}) {}
    ~ScopeLauncher() { Stop(), unlink(m_ownLog.c_str()); }
    ScopeLauncher(ScopeLauncher&&) = delete; // nor copied

    // Once: returns when the device link exists; a scope that did not get that far is stopped.
    // Its log goes to logPath (kept) or to a file of its own (removed with the launcher).
    std::string Start(const std::vector<std::string>& options, const std::string& name = "scope0",
                      const std::string& logPath = {}) {
        std::vector<std::string> args{Program()};
        if (access(args[0].c_str(), X_OK) != 0)
            return Fail(args[0] + " cannot be run: " + std::strerror(errno) +
                        " (build the virtual-scope target)");
        m_name = name;
        m_logPath = logPath.empty()
                        ? (std::filesystem::temp_directory_path() / ("virtual-scope-" + name + "-XXXXXX.log"))
                              .string()
                        : logPath;
        const int log = logPath.empty() ? mkstemps(m_logPath.data(), 4)
                                        : open(m_logPath.c_str(), O_WRONLY | O_CREAT, 0644);
        if (log < 0)
            return Fail(std::string("cannot create the virtual scope's log file: ") + std::strerror(errno));
        close(log);
        m_ownLog = logPath.empty() ? m_logPath : "";
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"--name", m_name, "--log", m_logPath});
        std::vector<char*> argv(args.size() + 1); // ends with nullptr
        std::ranges::transform(args, argv.begin(), [](std::string& arg) { return arg.data(); });
        if ((m_pid = fork()) < 0)
            return Fail(std::string("cannot start the virtual scope: ") + std::strerror(errno));
        if (m_pid == 0) {
            // A parent that dies must not leave its scope (and its link) behind.
            if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() == 1)
                _exit(127);
            // The parent may block or catch signals; the scope wants the defaults.
            const sigset_t none{};
            sigprocmask(SIG_SETMASK, &none, nullptr);
            dup2(open("/dev/null", O_RDONLY), 0);
            // Descriptors of the parent (an open device among them) must not live on in the scope: a
            // copy would keep the host's flock and the pseudo-terminal of another scope alive.
            close_range(3, ~0u, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::string ended;
        if (!WaitUntil(kWaitMs, [&] { return !(ended = Ended()).empty() || Plugged(); })) {
            Stop();
            return Fail("the virtual scope's device link " + LinkPath() + " did not appear within 5 s");
        }
        return ended.empty() ? ended
                             : Fail("the virtual scope " + ended +
                                    " before its device link appeared (options rejected? see its stderr)");
    }
    // SIGUSR1 and SIGUSR2; they return once the link is gone, or back.
    std::string Unplug() { return SignalAndWait(SIGUSR1, false, "is still there 5 s after unplug"); }
    std::string Replug() { return SignalAndWait(SIGUSR2, true, "did not come back within 5 s"); }
    // Sends signal and waits for the exit: its code, 128 + the signal's number
    // when a signal ended it, or -1 / kKilled.
    int Stop(int signal = SIGTERM) {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, signal);
        int status = 0;
        const auto reaped = [&] {
            return errno = 0, waitpid(m_pid, &status, WNOHANG) == m_pid || errno == ECHILD;
        };
        const bool exited = WaitUntil(kWaitMs, reaped);
        if (!exited) {
            kill(m_pid, SIGKILL);
            WaitUntil(kWaitMs, reaped);
            unlink(LinkPath().c_str()); // it had no chance to remove its own link
            Fail("the virtual scope did not exit within 5 s of signal " + std::to_string(signal) +
                 "; killed it");
        }
        m_pid = -1;
        return exited ? ExitCode(status) : kKilled;
    }

    // The link exists and leads somewhere (to the scope's pseudo-terminal).
    bool Plugged() const { return access(LinkPath().c_str(), F_OK) == 0; }
    // Empty while it runs (or was never started); how it ended when it ended by itself.
    std::string Ended() {
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, WNOHANG) != m_pid)
            return {};
        m_pid = -1;
        return "ended by itself with code " + std::to_string(ExitCode(status));
    }
    std::vector<std::string> LogLines() const {
        std::ifstream in(m_logPath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                lines.push_back(line);
        return lines;
    }
    // The log lines of event ev once there are at least count of them, or
    // those there are after timeoutMs. A reply's line is written just after
    // its last byte left, so a host may see the bytes before the line.
    std::vector<std::string> WaitForEvents(const std::string& ev, std::size_t count,
                                           int timeoutMs = kWaitMs) const {
        std::vector<std::string> found;
        WaitUntil(timeoutMs, [&] {
            found = LogLines();
            std::erase_if(found, [&](const std::string& line) { return Field(line, "ev") != ev; });
            return found.size() >= count;
        });
        return found;
    }
    std::string LinkPath() const { return usbdriver::VirtualBridgeFolder() + "/" + m_name; }
    pid_t Pid() const { return m_pid; }
    static std::string Program() {
        std::error_code e;
        return std::filesystem::read_symlink("/proc/self/exe", e).replace_filename("virtual-scope").string();
    }

  private:
    // The shell's exit code: 128 + the signal's number for a process a signal ended.
    static int ExitCode(int s) { return WIFSIGNALED(s) ? 128 + WTERMSIG(s) : WEXITSTATUS(s); }
    std::string SignalAndWait(int signal, bool plugged, const char* otherwise) {
        if (m_pid <= 0 || kill(m_pid, signal) != 0)
            return Fail("the virtual scope is not running");
        return WaitUntil(kWaitMs, [&] { return Plugged() == plugged; })
                   ? ""
                   : Fail("the virtual scope's link " + LinkPath() + " " + otherwise);
    }
    std::string Fail(const std::string& error) const { return m_onError(error), error; }

    std::function<void(const std::string&)> m_onError;
    std::string m_name = "scope0", m_logPath, m_ownLog; // m_ownLog: the log's path when it is ours to remove
    pid_t m_pid = -1;
};

} // namespace scopelauncher
