#include "ScopeProcess.h"

#include "BridgeFolder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 5000;
using Clock = std::chrono::steady_clock;

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}
} // namespace

ScopeProcess::~ScopeProcess() {
    Stop();
}

std::string ScopeProcess::LinkPath() const {
    return usbdriver::VirtualBridgeFolder() + "/scope0";
}

bool ScopeProcess::Plugged() const {
    struct stat st {};
    return stat(LinkPath().c_str(), &st) == 0;
}

std::string ScopeProcess::Start(const std::string& program, std::vector<std::string> options,
                                const std::string& logFile, const std::string& errFile) {
    if (access(program.c_str(), X_OK) != 0)
        return "the virtual scope " + program + " cannot be run: " + std::strerror(errno);
    std::vector<std::string> args{program};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--name", "scope0", "--log", logFile});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        return std::string("cannot start the virtual scope: ") + std::strerror(errno);
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0)
            dup2(in, 0);
        if (out >= 0)
            dup2(out, 1), dup2(out, 2);
        close_range(3, ~0u, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (Clock::now() < deadline) {
        // A busy scope publishes its link only once it holds the lock.
        if (Plugged())
            return {};
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return "the virtual scope ended before its link appeared (status " + std::to_string(status) +
                   "; see " + errFile + ")";
        }
        Pause();
    }
    Stop();
    return "the virtual scope's link " + LinkPath() + " did not appear within 5 s";
}

std::string ScopeProcess::Ended() {
    if (m_pid <= 0)
        return {};
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) != m_pid)
        return {};
    m_pid = -1;
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + strsignal(WTERMSIG(status));
    return "exited with code " + std::to_string(WEXITSTATUS(status));
}

bool ScopeProcess::Reaped(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = waitpid(m_pid, nullptr, WNOHANG);
        if (r == m_pid || (r < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= deadline)
            return false;
        Pause();
    }
}

bool ScopeProcess::Stop() {
    if (m_pid <= 0)
        return true;
    kill(m_pid, SIGTERM);
    const bool exited = Reaped(kWaitMs);
    if (!exited) {
        kill(m_pid, SIGKILL);
        Reaped(kWaitMs);
        unlink(LinkPath().c_str());
    }
    m_pid = -1;
    return exited;
}
