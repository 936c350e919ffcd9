// Decides, while the loader runs, how a fault schedule has ended: completed,
// halted with a message, waiting for a scope that has gone, or hung.
#pragma once

#include "DownloadSequencer.h"
#include "QtWindowTimers.h"
#include "RecordingView.h"
#include "SchedulePlan.h"
#include "ScheduleResult.h"
#include "ScopeLauncher.h"
#include "ScriptedPrompts.h"

#include <chrono>
#include <optional>
#include <string>

class OutcomeWatch {
  public:
    struct Verdict {
        Outcome outcome;
        std::string detail;
    };
    // Connect polls in a row that found no device before a scope that has
    // gone for good counts as waited for.
    static constexpr int kEmptyPolls = 5;
    // A window that showed its message must stay quiet this long.
    static constexpr std::chrono::milliseconds kQuietAfterMessage{300};

    OutcomeWatch(const SchedulePlan& plan, scopelauncher::ScopeLauncher& scope, const RecordingView& view,
                 const ScriptedPrompts& prompts, const appsupport::QtWindowTimers& timers,
                 const loader::DownloadSequencer& sequencer, std::chrono::milliseconds bound);

    // Nothing while the run goes on. Completed means the completion dialog
    // ran; the flash is compared afterwards.
    std::optional<Verdict> Check();

  private:
    using Clock = std::chrono::steady_clock;
    bool AnyStepArmed() const;
    // Status line, position, errors and armed timers, for a run that did not end well.
    std::string State() const;

    const SchedulePlan& m_plan;
    scopelauncher::ScopeLauncher& m_scope;
    const RecordingView& m_view;
    const ScriptedPrompts& m_prompts;
    const appsupport::QtWindowTimers& m_timers;
    const loader::DownloadSequencer& m_sequencer;
    Clock::time_point m_deadline;
    std::optional<Clock::time_point> m_messageAt;
};
