#include "CampaignDriver.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <poll.h>

namespace {
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

std::string Tail(const std::string& path, std::size_t lines) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    std::string text;
    for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
        text += "    | " + all[i] + "\n";
    return text;
}

unsigned long long Ull(std::uint64_t value) {
    return static_cast<unsigned long long>(value);
}
} // namespace

CampaignDriver::CampaignDriver(CampaignOptions options, std::string self)
    : m_options(options), m_self(std::move(self)) {}

void CampaignDriver::Report(ScheduleProcess& process, const ScheduleResult& result) {
    m_tally.Add(SchedulePlan::ForSeed(process.Seed()), result);
    ++m_done;
    const std::string detail = ScheduleResult::Escape(result.detail);
    if (IsFailure(result.outcome)) {
        // Its folder stays, with the scope's log and the process's standard error.
        std::printf("seed %llu: %s: %s (folder kept: %s)\n%s", Ull(process.Seed()),
                    OutcomeName(result.outcome), detail.c_str(), process.Folder().c_str(),
                    Tail(process.Folder() + "/runner.err", 10).c_str());
    } else {
        if (m_options.verbose || m_options.list)
            std::printf("seed %llu: %s in %.1f s%s%s\n", Ull(process.Seed()), OutcomeName(result.outcome),
                        result.ms / 1000.0, detail.empty() ? "" : ": ", detail.c_str());
        process.RemoveFolder();
    }
    if (m_options.list)
        std::printf("  %s\n", SchedulePlan::ForSeed(process.Seed()).Describe().c_str());
    const int step = std::max(1, m_options.schedules / 10);
    if (!m_options.verbose && !m_options.list && (m_done % step == 0 || m_done == m_options.schedules))
        std::printf("%6d of %d schedules done, %d failed\n", m_done, m_options.schedules, m_tally.Failures());
    std::fflush(stdout);
}

int CampaignDriver::Run() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t end = m_options.firstSeed + static_cast<std::uint64_t>(m_options.schedules);
    std::printf("Haldrin fault campaign: %d schedules, seeds %llu to %llu, %d at a time\n",
                m_options.schedules, Ull(m_options.firstSeed), Ull(end - 1), m_options.jobs);
    if (m_options.verbose)
        std::printf("%s\n", SchedulePlan::ForSeed(m_options.firstSeed).Describe().c_str());
    std::fflush(stdout);
    std::uint64_t next = m_options.firstSeed;
    while ((next < end || !m_running.empty()) && !g_interrupted) {
        while (next < end && static_cast<int>(m_running.size()) < m_options.jobs) {
            auto process = std::make_unique<ScheduleProcess>(next++);
            if (const std::string error = process->Start(m_self, m_options.verbose); !error.empty()) {
                std::fprintf(stderr, "haldrin-fault-campaign: seed %llu: %s\n", Ull(process->Seed()),
                             error.c_str());
                process->RemoveFolder();
                m_running.clear();
                return 1;
            }
            m_running.push_back(std::move(process));
        }
        std::vector<pollfd> fds;
        for (const auto& process : m_running)
            fds.push_back({process->Output(), POLLIN, 0});
        poll(fds.data(), fds.size(), 100);
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                m_running[i]->ReadOutput();
        for (auto it = m_running.begin(); it != m_running.end();) {
            ScheduleProcess& process = **it;
            if (!process.Killed() && process.Age() > kHardBound)
                process.Kill();
            if (process.Output() >= 0) {
                ++it;
                continue;
            }
            Report(process, process.Finish());
            it = m_running.erase(it);
        }
    }
    if (g_interrupted) {
        for (const auto& process : m_running)
            process->Kill(), process->Finish(), process->RemoveFolder();
        m_running.clear();
        std::printf("interrupted after %d schedules\n", m_done);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("\n%d schedules in %.1f s", m_tally.Schedules(), seconds);
    m_tally.Print(stdout, m_self + " --seed");
    std::fflush(stdout);
    return g_interrupted ? 2 : m_tally.Failures() > 0 ? 1 : 0;
}
