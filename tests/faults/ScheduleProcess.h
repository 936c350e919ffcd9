// One schedule's process: this program again, with --run-schedule, in a
// process group of its own (its virtual scope joins it) and with a fresh
// folder as its runtime folder. It dies with the campaign.
#pragma once

#include "ScheduleResult.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>

class ScheduleProcess {
  public:
    explicit ScheduleProcess(std::uint64_t seed) : m_seed(seed) {}
    // Kills the group if it still runs, and reaps it.
    ~ScheduleProcess();
    ScheduleProcess(const ScheduleProcess&) = delete;
    ScheduleProcess& operator=(const ScheduleProcess&) = delete;

    // Empty on success. verbose: the process's standard error stays the
    // campaign's, else it goes to runner.err in the folder.
    std::string Start(const std::string& self, bool verbose);

    // The end of the pipe that carries its report; -1 once it has closed.
    int Output() const { return m_output; }
    void ReadOutput();
    // SIGKILL to the whole group; the outcome becomes hung.
    void Kill();
    bool Killed() const { return m_killed; }
    std::chrono::steady_clock::duration Age() const { return std::chrono::steady_clock::now() - m_started; }

    // Once its output has closed: waits for the process, kills what is left
    // of its group, reaps it and tells the outcome from its report and exit.
    ScheduleResult Finish();
    void RemoveFolder();

    std::uint64_t Seed() const { return m_seed; }
    const std::string& Folder() const { return m_folder; }

  private:
    ScheduleResult Judge(int status) const;

    std::uint64_t m_seed;
    std::string m_folder;
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_received;
    std::chrono::steady_clock::time_point m_started;
    bool m_killed = false;
};
