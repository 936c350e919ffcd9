// The campaign's counts: schedules and applied faults per fault kind, outcomes
// per main fault, the messages of halted runs, and the failed seeds.
#pragma once

#include "FaultKind.h"
#include "SchedulePlan.h"
#include "ScheduleResult.h"

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class CampaignTally {
  public:
    void Add(const SchedulePlan& plan, const ScheduleResult& result);

    int Schedules() const { return m_schedules; }
    int Failures() const { return static_cast<int>(m_failures.size()); }
    // The table; rerun tells how to run one seed alone ("<program> --seed").
    void Print(std::FILE* out, const std::string& rerun) const;

  private:
    static constexpr int kOutcomes = 7;
    static int Index(FaultKind kind) { return static_cast<int>(kind); }

    int m_schedules = 0;
    std::array<int, kFaultKindCount> m_withKind{};
    std::array<int, kFaultKindCount> m_applied{};
    std::array<std::array<int, kOutcomes>, kFaultKindCount> m_byMainFault{};
    std::array<int, kOutcomes> m_outcomes{};
    int m_replugs = 0;
    long long m_longestMs = 0;
    std::uint64_t m_longestSeed = 0;
    std::map<std::string, int> m_haltMessages;
    std::vector<ScheduleResult> m_failures;
};
