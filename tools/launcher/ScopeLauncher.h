// Starts the virtual scope as a child process for tests and benchmarks, and
// controls it as a person at the device would: unplug, replug, stop.
#pragma once

#include "BridgeFolder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
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
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    std::string path; // empty when the folder could not be made
};

// Value of key in a log line ("" when absent), e.g. Field(line, "ev").
inline std::string Field(const std::string& logLine, const std::string& key) {
    std::istringstream words(logLine);
    for (std::string word; words >> word;)
        if (word.rfind(key + "=", 0) == 0)
            return word.substr(key.size() + 1);
    return {};
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
        : m_onError(std::move(onError)) {}
    ~ScopeLauncher() {
        Stop();
        if (m_ownLog)
            unlink(m_logPath.c_str());
    }
    ScopeLauncher(const ScopeLauncher&) = delete;
    ScopeLauncher& operator=(const ScopeLauncher&) = delete;

    // Once: returns when the device link exists; a scope that did not get that far is stopped.
    // Its log goes to logPath (kept) or to a file of its own (removed with the launcher).
    std::string Start(const std::vector<std::string>& options, const std::string& name = "scope0",
                      const std::string& logPath = {}) {
        m_name = name;
        std::vector<std::string> args{Program()};
        if (access(args[0].c_str(), X_OK) != 0)
            return Fail(args[0] + " cannot be run: " + std::strerror(errno) +
                        " (build the virtual-scope target)");
        m_ownLog = logPath.empty();
        m_logPath = m_ownLog
                        ? (std::filesystem::temp_directory_path() / ("virtual-scope-" + name + "-XXXXXX.log"))
                              .string()
                        : logPath;
        const int log =
            m_ownLog ? mkstemps(m_logPath.data(), 4) : open(m_logPath.c_str(), O_WRONLY | O_CREAT, 0644);
        if (log < 0)
            return Fail(std::string("cannot create the virtual scope's log file: ") + std::strerror(errno));
        close(log);
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"--name", m_name, "--log", m_logPath});
        m_pid = fork();
        if (m_pid < 0)
            return Fail(std::string("cannot start the virtual scope: ") + std::strerror(errno));
        if (m_pid == 0)
            RunInChild(args);
        int status = 0;
        bool exited = false;
        const bool linked = WaitUntil(kWaitMs, [&] {
            exited = waitpid(m_pid, &status, WNOHANG) == m_pid;
            return exited || WaitForLink(true, 0);
        });
        if (exited) {
            m_pid = -1;
            return Fail("the virtual scope ended with code " + std::to_string(ExitCode(status)) +
                        " before its device link appeared (options rejected? see its stderr)");
        }
        if (linked)
            return {};
        Stop();
        return Fail("the virtual scope's device link " + LinkPath() + " did not appear within 5 s");
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
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            return r == m_pid || (r < 0 && errno == ECHILD);
        };
        int code = kKilled;
        if (WaitUntil(kWaitMs, reaped)) {
            code = ExitCode(status);
        } else {
            kill(m_pid, SIGKILL);
            WaitUntil(kWaitMs, reaped);
            unlink(LinkPath().c_str()); // it had no chance to remove its own link
            Fail("the virtual scope did not exit within 5 s of signal " + std::to_string(signal) +
                 "; killed it");
        }
        m_pid = -1;
        return code;
    }

    // The link exists (and leads to a pseudo-terminal) as wanted within timeoutMs.
    bool WaitForLink(bool present, int timeoutMs) const {
        struct stat st;
        return WaitUntil(timeoutMs, [&] { return (stat(LinkPath().c_str(), &st) == 0) == present; });
    }
    bool Plugged() const { return WaitForLink(true, 0); }
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
            found.clear();
            for (const std::string& line : LogLines())
                if (Field(line, "ev") == ev)
                    found.push_back(line);
            return found.size() >= count;
        });
        return found;
    }
    std::string LinkPath() const { return BridgeDirectory() + "/" + m_name; }
    pid_t Pid() const { return m_pid; }

    static std::string Program() {
        std::error_code error;
        return (std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / "virtual-scope")
            .string();
    }
    static std::string BridgeDirectory() { return usbdriver::VirtualBridgeFolder(); }

  private:
    // The shell's exit code: 128 + the signal's number for a process a signal ended.
    static int ExitCode(int status) {
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }

    [[noreturn]] static void RunInChild(std::vector<std::string> args) {
        // A parent that dies must not leave its scope (and its link) behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1)
            _exit(127);
        // The parent may block or catch signals; the scope wants the defaults.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (const int devnull = open("/dev/null", O_RDONLY); devnull >= 0)
            dup2(devnull, 0);
        // Descriptors of the parent (an open device among them) must not live on in the scope: a
        // copy would keep the host's flock and the pseudo-terminal of another scope alive.
        close_range(3, ~0u, 0);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string SignalAndWait(int signal, bool linked, const char* otherwise) {
        if (m_pid <= 0)
            return Fail("the virtual scope is not running");
        kill(m_pid, signal);
        return WaitForLink(linked, kWaitMs)
                   ? ""
                   : Fail("the virtual scope's link " + LinkPath() + " " + otherwise);
    }
    std::string Fail(const std::string& error) const {
        if (m_onError)
            m_onError(error);
        return error;
    }

    std::function<void(const std::string&)> m_onError;
    std::string m_name = "scope0";
    std::string m_logPath;
    bool m_ownLog = true;
    pid_t m_pid = -1;
};

} // namespace scopelauncher
