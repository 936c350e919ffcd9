#include "ScheduleProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
}

ScheduleProcess::~ScheduleProcess() {
    if (m_output >= 0)
        close(m_output);
    if (m_pid > 0) {
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string ScheduleProcess::Start(const std::string& self, bool verbose) {
    m_folder = (std::filesystem::temp_directory_path() / "haldrin-faults-XXXXXX").string();
    if (!mkdtemp(m_folder.data()))
        return std::string("cannot create a folder: ") + std::strerror(errno);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::string("cannot create a pipe: ") + std::strerror(errno);
    const std::string errFile = m_folder + "/runner.err";
    std::vector<std::string> args = {self, "--run-schedule", std::to_string(m_seed), "--work-dir", m_folder};
    if (verbose)
        args.push_back("--verbose");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(pipeFds[1], 1);
        if (!verbose)
            if (const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                err >= 0)
                dup2(err, 2);
        setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const int error = errno;
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return std::string("cannot start a process: ") + std::strerror(error);
    }
    setpgid(pid, pid);
    m_pid = pid;
    m_output = pipeFds[0];
    m_started = Clock::now();
    return {};
}

void ScheduleProcess::ReadOutput() {
    char buffer[4096];
    const ssize_t n = read(m_output, buffer, sizeof buffer);
    if (n > 0) {
        m_received.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    close(m_output);
    m_output = -1;
}

void ScheduleProcess::Kill() {
    if (m_pid > 0)
        kill(-m_pid, SIGKILL);
    m_killed = true;
}

ScheduleResult ScheduleProcess::Finish() {
    // Wait until the process has ended but leave it unreaped: while it is a
    // zombie its group cannot pass to another process.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT | WNOHANG) != 0 ||
            info.si_pid == m_pid)
            break;
        if (Clock::now() >= deadline && !m_killed)
            Kill();
        usleep(2000);
    }
    kill(-m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return Judge(status);
}

ScheduleResult ScheduleProcess::Judge(int status) const {
    ScheduleResult result;
    const std::size_t at = m_received.rfind("schedule seed=");
    bool reported = false;
    if (at != std::string::npos)
        if (const auto line = ScheduleResult::FromLine(m_received.substr(at, m_received.find('\n', at) - at)))
            result = *line, reported = result.seed == m_seed;
    const std::string reportedOutcome = reported ? OutcomeName(result.outcome) : "";
    result.seed = m_seed;
    if (m_killed) {
        result.outcome = Outcome::Hung;
        result.detail = "no report in time; killed";
    } else if (WIFSIGNALED(status)) {
        result.outcome = Outcome::Crashed;
        result.detail = std::string("killed by signal ") + strsignal(WTERMSIG(status));
    } else if (!reported || WEXITSTATUS(status) != 0) {
        result.outcome = Outcome::Crashed;
        result.detail = "exited with code " + std::to_string(WEXITSTATUS(status)) +
                        (reported ? " after reporting " + reportedOutcome : " without a report");
    }
    if (!reported || m_killed)
        result.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Age()).count();
    return result;
}

void ScheduleProcess::RemoveFolder() {
    std::error_code ignored;
    if (!m_folder.empty())
        std::filesystem::remove_all(m_folder, ignored);
}
