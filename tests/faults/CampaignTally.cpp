#include "CampaignTally.h"

namespace {
int Hits(const ScheduleResult& result, const std::string& name) {
    const auto found = result.hits.find(name);
    return found == result.hits.end() ? 0 : found->second;
}
} // namespace

void CampaignTally::Add(const SchedulePlan& plan, const ScheduleResult& result) {
    ++m_schedules;
    for (const FaultKind kind : plan.kinds) {
        ++m_withKind[Index(kind)];
        if (IsReplyFault(kind))
            m_applied[Index(kind)] += Hits(result, FaultKindName(kind));
    }
    if (plan.primary == FaultKind::Unplug || plan.primary == FaultKind::UnplugReplug)
        m_applied[Index(plan.primary)] += Hits(result, "unplug");
    if (plan.primary == FaultKind::Busy)
        m_applied[Index(plan.primary)] += Hits(result, "busy");
    m_replugs += Hits(result, "replug");
    const int outcome = static_cast<int>(result.outcome);
    ++m_byMainFault[Index(plan.primary)][outcome];
    ++m_outcomes[outcome];
    if (result.outcome == Outcome::Halted)
        ++m_haltMessages[ScheduleResult::Escape(result.detail)];
    if (IsFailure(result.outcome))
        m_failures.push_back(result);
    if (result.ms > m_longestMs)
        m_longestMs = result.ms, m_longestSeed = result.seed;
}

void CampaignTally::Print(std::FILE* out, const std::string& rerun) const {
    std::fprintf(out, "\n%-14s %9s %8s |", "fault kind", "schedules", "applied");
    for (int o = 0; o < kOutcomes; ++o)
        std::fprintf(out, " %9s", OutcomeName(static_cast<Outcome>(o)));
    std::fprintf(out, "   (outcomes by main fault)\n");
    for (const FaultKind kind : kAllFaultKinds) {
        std::fprintf(out, "%-14s %9d %8d |", FaultKindName(kind), m_withKind[Index(kind)],
                     m_applied[Index(kind)]);
        for (int o = 0; o < kOutcomes; ++o)
            std::fprintf(out, " %9d", m_byMainFault[Index(kind)][o]);
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "%-14s %9d %8s |", "all", m_schedules, "");
    for (int o = 0; o < kOutcomes; ++o)
        std::fprintf(out, " %9d", m_outcomes[o]);
    std::fprintf(
        out, "\n\n(a schedule may mix kinds; applied: faults the virtual scope's log shows, %d replugs)\n",
        m_replugs);
    std::fprintf(out, "longest schedule: %.1f s (seed %llu)\n", m_longestMs / 1000.0,
                 static_cast<unsigned long long>(m_longestSeed));
    std::fprintf(out, "messages of halted runs:\n");
    for (const auto& [message, count] : m_haltMessages)
        std::fprintf(out, "  %5d  \"%s\"\n", count, message.c_str());
    if (m_failures.empty()) {
        std::fprintf(out, "no WRONG, hung, crashed or unrun schedule\n");
        return;
    }
    std::fprintf(out, "%zu FAILED schedules:\n", m_failures.size());
    for (const ScheduleResult& failure : m_failures)
        std::fprintf(out, "  seed %llu: %s: %s\n    rerun alone: %s %llu\n",
                     static_cast<unsigned long long>(failure.seed), OutcomeName(failure.outcome),
                     ScheduleResult::Escape(failure.detail).c_str(), rerun.c_str(),
                     static_cast<unsigned long long>(failure.seed));
}
