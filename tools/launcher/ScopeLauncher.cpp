#include "ScopeLauncher.h"

#include "BridgeFolder.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace scopelauncher {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Shell convention for the exit code of a process that a signal ended.
constexpr int kSignalExitBase = 128;
// The child's exit code when it could not run the program.
constexpr int kCannotRun = 127;

// Polls done() every 2 ms until it holds or timeoutMs have passed.
template <class Done> bool WaitUntil(int timeoutMs, Done done) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int ExitCode(int status) {
    return WIFSIGNALED(status) ? kSignalExitBase + WTERMSIG(status) : WEXITSTATUS(status);
}

[[noreturn]] void RunInChild(std::vector<std::string> args, const std::string& errorPath) {
    // A parent that dies must not leave its scope (and its link) behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1)
        _exit(kCannotRun);
    // The parent may block or catch signals; the scope wants the defaults.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0)
        dup2(devnull, 0);
    if (!errorPath.empty()) {
        const int error = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (error >= 0)
            dup2(error, 2);
    }
    // Descriptors the parent holds (an open device among them) must not live
    // on in the scope: a copy would keep the host's flock and the
    // pseudo-terminal of another scope alive.
    close_range(3, ~0u, 0);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(kCannotRun);
}

} // namespace

std::string ScopeLauncher::Program() {
    std::error_code error;
    return (fs::read_symlink("/proc/self/exe", error).parent_path() / "virtual-scope").string();
}

std::string ScopeLauncher::BridgeDirectory() {
    return usbdriver::VirtualBridgeFolder();
}

std::string ScopeLauncher::Start(const std::vector<std::string>& options, const std::string& name,
                                 const std::string& logPath, const std::string& errorPath) {
    m_name = name;
    const std::string program = Program();
    if (access(program.c_str(), X_OK) != 0)
        return program + " cannot be run: " + std::strerror(errno) + " (build the virtual-scope target)";
    m_ownLog = logPath.empty();
    m_logPath =
        m_ownLog ? (fs::temp_directory_path() / ("virtual-scope-" + name + "-XXXXXX.log")).string() : logPath;
    const int log =
        m_ownLog ? mkstemps(m_logPath.data(), 4) : open(m_logPath.c_str(), O_WRONLY | O_CREAT, 0644);
    if (log < 0)
        return std::string("cannot create the virtual scope's log file: ") + std::strerror(errno);
    close(log);
    std::vector<std::string> args{program};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--name", m_name, "--log", m_logPath});
    const pid_t pid = fork();
    if (pid < 0)
        return std::string("cannot start the virtual scope: ") + std::strerror(errno);
    if (pid == 0)
        RunInChild(std::move(args), errorPath);
    m_pid = pid;
    int status = 0;
    bool exited = false;
    const bool linked = WaitUntil(kWaitMs, [&] {
        exited = waitpid(m_pid, &status, WNOHANG) == m_pid;
        return exited || WaitForLink(true, 0);
    });
    if (exited) {
        m_pid = -1;
        return "the virtual scope ended with code " + std::to_string(ExitCode(status)) +
               " before its device link appeared (options rejected? see its stderr)";
    }
    if (linked)
        return {};
    Stop();
    return "the virtual scope's device link " + LinkPath() + " did not appear within 5 s";
}

ScopeLauncher::~ScopeLauncher() {
    Stop();
    if (m_ownLog)
        unlink(m_logPath.c_str());
}

std::string ScopeLauncher::Ended() {
    int status = 0;
    if (m_pid <= 0 || waitpid(m_pid, &status, WNOHANG) != m_pid)
        return {};
    m_pid = -1;
    return "ended by itself with code " + std::to_string(ExitCode(status));
}

bool ScopeLauncher::WaitForLink(bool present, int timeoutMs) const {
    const std::string link = LinkPath();
    return WaitUntil(timeoutMs, [&] {
        struct stat st;
        return (stat(link.c_str(), &st) == 0) == present;
    });
}

std::string ScopeLauncher::SignalAndWait(int signal, bool linked, const char* otherwise) {
    if (m_pid <= 0)
        return "the virtual scope is not running";
    kill(m_pid, signal);
    return WaitForLink(linked, kWaitMs) ? "" : "the virtual scope's link " + LinkPath() + " " + otherwise;
}

int ScopeLauncher::Stop(int signal) {
    if (m_pid <= 0)
        return kNotRunning;
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
    }
    m_pid = -1;
    return code;
}

std::vector<std::string> ScopeLauncher::LogLines() const {
    std::ifstream in(m_logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> ScopeLauncher::WaitForEvents(const std::string& ev, std::size_t count,
                                                      int timeoutMs) const {
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

std::string ScopeLauncher::LinkPath() const {
    return BridgeDirectory() + "/" + m_name;
}

std::string Field(const std::string& logLine, const std::string& key) {
    std::istringstream words(logLine);
    for (std::string word; words >> word;)
        if (word.rfind(key + "=", 0) == 0)
            return word.substr(key.size() + 1);
    return {};
}

} // namespace scopelauncher
