// Runs a range of seeds, each schedule in a process of its own, a few at a
// time; kills a schedule's whole process group, its virtual scope included,
// at the hard bound; tallies and prints the outcomes.
#pragma once

#include "CampaignTally.h"
#include "ScheduleProcess.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CampaignOptions {
    std::uint64_t firstSeed = 1;
    int schedules = 120;
    int jobs = 8;
    // One schedule, with its plan and the scope's log shown.
    bool verbose = false;
    // A line for every schedule: its outcome and its plan.
    bool list = false;
};

class CampaignDriver {
  public:
    // A schedule's process that has not reported by then is killed.
    static constexpr std::chrono::seconds kHardBound{90};

    CampaignDriver(CampaignOptions options, std::string self);
    // 0 when every schedule ended well, 1 otherwise, 2 when interrupted.
    int Run();

  private:
    void Report(ScheduleProcess& process, const ScheduleResult& result);

    CampaignOptions m_options;
    std::string m_self;
    std::vector<std::unique_ptr<ScheduleProcess>> m_running;
    CampaignTally m_tally;
    int m_done = 0;
};
