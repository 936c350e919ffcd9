#include "FlashCommand.h"

#include "BridgeListing.h"
#include "ExitCodes.h"
#include "FirmwareImage.h"
#include "Interrupt.h"
#include "JsonLine.h"
#include "LoaderControls.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace scopectl {

namespace {

using namespace loader::steps;

FlashProgress::Style ProgressStyle(const FlashOptions& options) {
    if (options.json)
        return FlashProgress::Style::Json;
    return isatty(STDOUT_FILENO) ? FlashProgress::Style::Terminal : FlashProgress::Style::Lines;
}

const char* PhaseName(int stepId) {
    switch (stepId) {
    case kCapacityQuery:
        return "geometry";
    case kEraseSector:
        return "erase";
    case kBlankCheck:
        return "blank-check";
    case kSendData:
        return "data";
    case kFinish:
        return "end";
    default:
        return nullptr; // polling and the run's start send nothing of the download
    }
}

} // namespace

FlashCommand::FlashCommand(FlashOptions options)
    : m_options(std::move(options)), m_progress(ProgressStyle(m_options), stdout), m_prompts(m_options.file),
      m_sequencer(m_link, m_timers, m_clock, m_progress, m_prompts, &m_prompts) {
    m_link.SelectDevice(m_options.device);
}

int FlashCommand::LoadImage() {
    // What the window's file selection cannot offer: a name that does not open.
    const int fd = open(m_options.file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const std::string reason = std::strerror(errno);
        return Outcome("refused", m_options.file + ": " + reason, kExitUsage);
    }
    close(fd);
    // Loaded as the window loads it, refused for the window's reasons and with its texts.
    m_sequencer.OnOpenBin();
    if (!m_prompts.Message().empty())
        return Outcome("refused", m_prompts.Message(), kExitUsage);
    if (m_link.ImageLength() == 0) // gone or changed since the check above
        return Outcome("refused", m_options.file + ": the file could not be opened", kExitUsage);
    return kExitDone;
}

bool FlashCommand::Confirm() {
    std::fprintf(stderr,
                 "Write %s (%s) into the scope's flash? The scope must stay connected and switched on "
                 "until it is done. [y/N] ",
                 m_options.file.c_str(), loader::FirmwareImage::SizeText(m_link.ImageLength()).c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

int FlashCommand::Run() {
    if (const int status = LoadImage(); status != kExitDone)
        return status;
    if (!m_options.yes) {
        if (!isatty(STDIN_FILENO))
            return Outcome("refused",
                           "there is no terminal to confirm the flash on; add --yes to write without asking",
                           kExitUsage);
        if (!Confirm())
            return scopectl::Interrupted() ? Interrupted()
                                           : Outcome("declined", "nothing was written", kExitFailed);
    }
    return Download();
}

int FlashCommand::Download() {
    // The window's start; the image was chosen before the boot loader answered.
    m_sequencer.ResetWindow();
    const std::int64_t waitEndNs =
        StepTimers::NowNs() + static_cast<std::int64_t>(std::llround(m_options.waitSeconds * 1e9));
    while (!m_prompts.Ended()) {
        const std::optional<int> step = m_timers.Wait();
        if (scopectl::Interrupted())
            return Interrupted();
        if (!step)
            break; // halted: no step is armed any more
        const int sectorBefore = m_sequencer.SectorIndex();
        const int errorsBefore = m_sequencer.ErrorCount();
        if (*step == kStartRun)
            m_runStartNs = StepTimers::NowNs();
        m_sequencer.OnLoaderTimer(*step);
        const bool stillPolling = *step == kConnectPoll && m_timers.Armed(kConnectPoll);
        if (stillPolling && StepTimers::NowNs() >= waitEndNs)
            return NoBootLoader();
        if (PhaseName(*step) && (!m_prompts.Ended() || m_prompts.Finished()))
            m_progress.Step(Report(*step, sectorBefore, errorsBefore));
        if (!m_prompts.Message().empty() && !m_prompts.Finished())
            break;
    }
    if (m_prompts.Finished()) {
        return Outcome("done", "the image is written; press the scope's power button to start it", kExitDone);
    }
    if (!m_prompts.Started()) // the environment message: listed, but never opened
        return Outcome("no-scope", m_prompts.Message(), kExitNoScope);
    return Outcome("halted", "the download halted: " + m_prompts.Message(), kExitFailed);
}

StepReport FlashCommand::Report(int stepId, int sectorBefore, int errorsBefore) const {
    StepReport report;
    report.phase = PhaseName(stepId);
    const int perSector = m_link.BlocksPerSector();
    report.blocks = m_link.ImageLength() / loader::FirmwareImage::kBlockSize + 1;
    report.sectors = perSector > 0 ? (report.blocks + perSector - 1) / perSector : 0;
    // The sector count goes up once its blank check passed: data and the end belong to the one before.
    report.sector = stepId == kSendData || stepId == kFinish ? std::max(0, sectorBefore - 1) : sectorBefore;
    report.block = m_sequencer.BlockIndex();
    report.errors = m_sequencer.ErrorCount();
    report.failed = report.errors > errorsBefore;
    report.elapsedMs = (StepTimers::NowNs() - m_runStartNs) / 1'000'000;
    return report;
}

int FlashCommand::Outcome(const char* outcome, const std::string& message, int status) {
    m_progress.Close();
    const bool run = m_prompts.Started();
    const StepReport last = Report(kSendData, m_sequencer.SectorIndex(), m_sequencer.ErrorCount());
    if (m_options.json) {
        JsonLine line;
        line.Text("outcome", outcome).Text("message", message).Number("exit", status);
        if (run)
            line.Number("block", last.block)
                .Number("blocks", last.blocks)
                .Number("errors", last.errors)
                .Real("seconds", static_cast<double>(last.elapsedMs) / 1000.0)
                .Number("rate", FlashProgress::Rate(last));
        std::printf("%s\n", line.Str().c_str());
    } else if (status == kExitDone) {
        std::printf(
            "done: %d blocks in %.1f s (%lld B/s), %d errors; press the scope's power button to start "
            "the new firmware\n",
            last.block, static_cast<double>(last.elapsedMs) / 1000.0,
            static_cast<long long>(FlashProgress::Rate(last)), last.errors);
    }
    if (status != kExitDone)
        std::fprintf(stderr, "scopectl: flash: %s\n", message.c_str());
    std::fflush(stdout);
    return status;
}

int FlashCommand::Interrupted() {
    if (!m_prompts.Started())
        return Outcome("interrupted", "interrupted before anything was written", kExitInterrupted);
    const StepReport last = Report(kSendData, m_sequencer.SectorIndex(), m_sequencer.ErrorCount());
    return Outcome("interrupted",
                   "interrupted: the flash is partly written (" + std::to_string(last.block) + " of " +
                       std::to_string(last.blocks) +
                       " blocks); the scope stays in its boot loader: write the image again before using it",
                   kExitInterrupted);
}

int FlashCommand::NoBootLoader() {
    const std::size_t attached = usbdriver::ListBridges().size();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", m_options.waitSeconds);
    if (static_cast<int>(attached) <= m_options.device)
        return Outcome("no-scope",
                       "no scope found within " + std::string(seconds) + " s: no bridge numbered " +
                           std::to_string(m_options.device) + " is attached (" + std::to_string(attached) +
                           " listed); plug the scope in and start it in its boot loader",
                       kExitNoScope);
    return Outcome("no-scope",
                   "bridge " + std::to_string(m_options.device) +
                       " is attached, but no boot loader answered within " + seconds +
                       " s; start the scope in its boot loader and try again",
                   kExitNoScope);
}

} // namespace scopectl
