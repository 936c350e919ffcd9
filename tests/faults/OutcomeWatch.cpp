#include "OutcomeWatch.h"

#include "LoaderControls.h"

#include <array>

using namespace loader;

namespace {
constexpr std::array kSteps = {steps::kConnectPoll, steps::kStartRun,   steps::kCapacityQuery,
                               steps::kEraseSector, steps::kBlankCheck, steps::kSendData,
                               steps::kFinish};
}

OutcomeWatch::OutcomeWatch(const SchedulePlan& plan, scopelauncher::ScopeLauncher& scope,
                           const RecordingView& view, const ScriptedPrompts& prompts,
                           const appsupport::QtWindowTimers& timers,
                           const loader::DownloadSequencer& sequencer, std::chrono::milliseconds bound)
    : m_plan(plan), m_scope(scope), m_view(view), m_prompts(prompts), m_timers(timers),
      m_sequencer(sequencer), m_deadline(Clock::now() + bound) {}

bool OutcomeWatch::AnyStepArmed() const {
    for (const int id : kSteps)
        if (m_timers.IsActive(id))
            return true;
    return false;
}

std::string OutcomeWatch::State() const {
    std::string armed;
    for (const int id : kSteps)
        if (m_timers.IsActive(id))
            armed += (armed.empty() ? "" : ",") + std::to_string(id);
    return "status \"" + m_view.Status() + "\", block " + std::to_string(m_sequencer.BlockIndex()) + ", " +
           std::to_string(m_sequencer.ErrorCount()) +
           " errors, armed step timers: " + (armed.empty() ? "none" : armed) + ", scope " +
           (m_scope.Plugged() ? "plugged in" : "gone");
}

std::optional<OutcomeWatch::Verdict> OutcomeWatch::Check() {
    if (const std::string ended = m_scope.Ended(); !ended.empty())
        return Verdict{Outcome::Crashed, "the virtual scope " + ended + "; " + State()};
    const auto& messages = m_prompts.Messages();
    if (m_prompts.FinishDialogs() > 0) {
        if (!messages.empty() || AnyStepArmed() || m_prompts.FinishDialogs() > 1)
            return Verdict{Outcome::Hung, "completed but goes on: " + State()};
        return Verdict{Outcome::Completed, {}};
    }
    if (!messages.empty()) {
        // One message, and then nothing more may happen.
        if (!m_messageAt)
            m_messageAt = Clock::now();
        if (Clock::now() - *m_messageAt < kQuietAfterMessage)
            return std::nullopt;
        if (messages.size() > 1 || AnyStepArmed())
            return Verdict{Outcome::Hung, "goes on after the message \"" +
                                              ScheduleResult::Escape(messages[0]) + "\": " + State()};
        return Verdict{Outcome::Halted, messages[0]};
    }
    if (m_plan.Unplugs() && !m_plan.Replugs() && !m_scope.Plugged() &&
        m_view.EmptyPollsInARow() >= kEmptyPolls && m_timers.IsActive(steps::kConnectPoll))
        return Verdict{Outcome::Waiting, {}};
    if (Clock::now() >= m_deadline)
        return Verdict{Outcome::Hung, "no outcome within the bound: " + State()};
    return std::nullopt;
}
