// scopectl flash: Haldrin's download sequencer, step timers and error budget,
// driven from the command line: the same commands, in the same order, with the
// same 1 ms and 100 ms between them.
#pragma once

#include "CommandLine.h"
#include "DownloadSequencer.h"
#include "FlashProgress.h"
#include "FlashPrompts.h"
#include "ScopeLink.h"
#include "SteadyClock.h"
#include "StepTimers.h"

#include <cstdint>

namespace scopectl {

class FlashCommand {
  public:
    explicit FlashCommand(FlashOptions options);

    // The exit status.
    int Run();

  private:
    // 0 when the image is loaded, else the exit status.
    int LoadImage();
    bool Confirm();
    int Download();
    StepReport Report(int stepId, int sectorBefore, int errorsBefore) const;
    // Prints the outcome (a JSON object with --json) and returns status.
    int Outcome(const char* outcome, const std::string& message, int status);
    int Interrupted();
    int NoBootLoader();

    FlashOptions m_options;
    loader::ScopeLink m_link;
    StepTimers m_timers;
    appsupport::SteadyClock m_clock;
    FlashProgress m_progress;
    FlashPrompts m_prompts;
    loader::DownloadSequencer m_sequencer;
    std::int64_t m_runStartNs = 0;
};

} // namespace scopectl
