#include "VirtualScopeProcess.h"

#include "BridgeFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef VIRTUAL_SCOPE_PATH
#error "VIRTUAL_SCOPE_PATH must name the virtual-scope program"
#endif

namespace testsupport {

namespace {

constexpr int kWaitMs = 5000;

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

std::string DescribeStatus(int status) {
    if (WIFEXITED(status))
        return "exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("was killed by signal ") + strsignal(WTERMSIG(status));
    return "stopped";
}

} // namespace

std::string VirtualScopeProcess::BridgeDirectory() {
    return usbdriver::VirtualBridgeFolder();
}

VirtualScopeProcess::VirtualScopeProcess(std::vector<std::string> options, std::string name)
    : m_name(std::move(name)) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("virtual-scope-" + m_name + "-XXXXXX.log")).string();
    const int fd = mkstemps(pattern.data(), 4);
    if (fd < 0) {
        ADD_FAILURE() << "cannot create the virtual scope's log file: " << std::strerror(errno);
        return;
    }
    close(fd);
    m_logPath = pattern;

    std::vector<std::string> args{VIRTUAL_SCOPE_PATH};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--name", m_name, "--log", m_logPath});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "cannot start the virtual scope: " << std::strerror(errno);
        return;
    }
    if (pid == 0) {
        // A test process that dies must not leave its scope (and its link) behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1)
            _exit(127);
        // The test process may block or catch signals; the scope wants defaults.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        // Descriptors the test holds (an open device among them) must not
        // live on in the scope: a copy would keep the host's flock and the
        // pseudo-terminal of another scope alive.
        close_range(3, ~0u, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (WaitForLink(true, 0))
            return;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            ADD_FAILURE() << "the virtual scope " << DescribeStatus(status)
                          << " before its device link appeared (options rejected? see its stderr)";
            return;
        }
        Pause();
    }
    ADD_FAILURE() << "the virtual scope's device link " << LinkPath() << " did not appear within 5 s";
    Stop();
}

VirtualScopeProcess::~VirtualScopeProcess() {
    Stop();
    if (!m_logPath.empty())
        unlink(m_logPath.c_str());
}

bool VirtualScopeProcess::WaitForLink(bool present, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string link = LinkPath();
    for (;;) {
        struct stat st;
        // A link counts only when it leads to an existing pseudo-terminal.
        const bool exists = stat(link.c_str(), &st) == 0;
        if (exists == present)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Pause();
    }
}

bool VirtualScopeProcess::Exited(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Pause();
    }
}

void VirtualScopeProcess::Unplug() {
    if (m_pid <= 0) {
        ADD_FAILURE() << "Unplug: the virtual scope is not running";
        return;
    }
    kill(m_pid, SIGUSR1);
    if (!WaitForLink(false, kWaitMs))
        ADD_FAILURE() << "the virtual scope's link " << LinkPath() << " is still there 5 s after unplug";
}

void VirtualScopeProcess::Replug() {
    if (m_pid <= 0) {
        ADD_FAILURE() << "Replug: the virtual scope is not running";
        return;
    }
    kill(m_pid, SIGUSR2);
    if (!WaitForLink(true, kWaitMs))
        ADD_FAILURE() << "the virtual scope's link " << LinkPath() << " did not come back within 5 s";
}

void VirtualScopeProcess::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (!Exited(kWaitMs)) {
        ADD_FAILURE() << "the virtual scope did not exit within 5 s of SIGTERM; killing it";
        kill(m_pid, SIGKILL);
        Exited(kWaitMs);
        unlink(LinkPath().c_str()); // it had no chance to remove its own link
    }
    m_pid = -1;
}

std::vector<std::string> VirtualScopeProcess::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(m_logPath);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> VirtualScopeProcess::WaitForEvents(const std::string& ev, std::size_t count,
                                                            int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<std::string> found;
        for (const std::string& line : LogLines())
            if (Field(line, "ev") == ev)
                found.push_back(line);
        if (found.size() >= count || std::chrono::steady_clock::now() >= deadline)
            return found;
        Pause();
    }
}

std::string VirtualScopeProcess::LinkPath() const {
    return BridgeDirectory() + "/" + m_name;
}

pid_t VirtualScopeProcess::Pid() const {
    return m_pid;
}

std::string Field(const std::string& logLine, const std::string& key) {
    const std::string wanted = key + "=";
    std::size_t pos = 0;
    while (pos < logLine.size()) {
        std::size_t end = logLine.find(' ', pos);
        if (end == std::string::npos)
            end = logLine.size();
        if (logLine.compare(pos, wanted.size(), wanted) == 0 && end - pos >= wanted.size())
            return logLine.substr(pos + wanted.size(), end - pos - wanted.size());
        pos = end + 1;
    }
    return {};
}

} // namespace testsupport
