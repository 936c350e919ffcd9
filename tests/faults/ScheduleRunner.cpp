#include "ScheduleRunner.h"

#include "DownloadSequencer.h"
#include "FlashComparison.h"
#include "OutcomeWatch.h"
#include "QtWindowTimers.h"
#include "RecordingView.h"
#include "ScopeLauncher.h"
#include "ScopeLink.h"
#include "ScriptedPrompts.h"
#include "SteadyClock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using loader::DownloadSequencer;
using loader::FirmwareImage;
using loader::ScopeLink;

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kWatchMs = 10;
} // namespace

ScheduleRunner::ScheduleRunner(SchedulePlan plan, std::string workDir, bool verbose)
    : m_plan(std::move(plan)), m_workDir(std::move(workDir)), m_verbose(verbose) {}

ScheduleResult ScheduleRunner::Run(int argc, char** argv) {
    const auto started = Clock::now();
    ScheduleResult result;
    result.seed = m_plan.seed;
    setenv("XDG_RUNTIME_DIR", m_workDir.c_str(), 1);
    m_image = m_plan.ImageBytes();
    {
        std::ofstream out(Path("image.BIN"), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_image.data()),
                  static_cast<std::streamsize>(m_image.size()));
        if (!out.good()) {
            result.outcome = Outcome::NotRun;
            result.detail = "cannot write the image file " + Path("image.BIN");
            return result;
        }
    }
    scopelauncher::ScopeLauncher scope;
    const std::string error =
        scope.Start(m_plan.ScopeOptions(Path("flash.bin")), "scope0", Path("scope.log"), Path("scope.err"));
    if (!error.empty()) {
        result.outcome = Outcome::NotRun;
        result.detail = error;
        return result;
    }
    RunLoader(argc, argv, scope, result);
    // The scope writes its whole flash as it exits.
    if (scope.Stop() == scopelauncher::ScopeLauncher::kKilled) {
        result.outcome = Outcome::Hung;
        result.detail = "the virtual scope did not exit on SIGTERM within 5 s";
    }
    if (result.outcome == Outcome::Completed)
        CheckCompleted(result);
    CountFaults(result);
    if (m_verbose) {
        std::fprintf(stderr, "virtual scope log (%s):\n", Path("scope.log").c_str());
        std::ifstream log(Path("scope.log"));
        for (std::string line; std::getline(log, line);)
            std::fprintf(stderr, "  %s\n", line.c_str());
    }
    result.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    return result;
}

void ScheduleRunner::RunLoader(int argc, char** argv, scopelauncher::ScopeLauncher& scope,
                               ScheduleResult& result) {
    QCoreApplication app(argc, argv);
    ScopeLink link;
    appsupport::SteadyClock clock;
    RecordingView view;
    ScriptedPrompts prompts(Path("image.BIN"));
    DownloadSequencer* sequencer = nullptr;
    appsupport::QtWindowTimers timers([&sequencer](int id) { sequencer->OnLoaderTimer(id); });
    DownloadSequencer running(link, timers, clock, view, prompts);
    sequencer = &running;
    OutcomeWatch watch(m_plan, scope, view, prompts, timers, running, kBound);

    QTimer watchTimer;
    watchTimer.setInterval(kWatchMs);
    QObject::connect(&watchTimer, &QTimer::timeout, [&] {
        if (const auto verdict = watch.Check()) {
            result.outcome = verdict->outcome;
            result.detail = verdict->detail;
            watchTimer.stop();
            app.exit(0);
        }
    });
    // The window's start: reset, then the connect poll every 100 ms.
    running.ResetWindow();
    watchTimer.start();
    app.exec();

    if (result.outcome != Outcome::Completed)
        return;
    const int t = link.ImageLength() / FirmwareImage::kBlockSize;
    m_blocksAcknowledged = running.BlockIndex();
    const std::uint8_t* buffer = link.Image().Data();
    m_sent.assign(buffer, buffer + static_cast<std::size_t>(t + 1) * FirmwareImage::kBlockSize);
}

void ScheduleRunner::CheckCompleted(ScheduleResult& result) const {
    std::string wrong;
    const int blocks = static_cast<int>(m_sent.size() / FirmwareImage::kBlockSize);
    if (m_blocksAcknowledged != blocks)
        wrong = "completed with " + std::to_string(m_blocksAcknowledged) + " of the blocks 0 to " +
                std::to_string(blocks - 1) + " acknowledged";
    else if (m_sent.size() < m_image.size() || !std::equal(m_image.begin(), m_image.end(), m_sent.begin()))
        wrong = "the image buffer does not start with the file's bytes";
    else if (const std::size_t fill = PaddingEnd(); fill < m_sent.size())
        wrong = "the image buffer's padding is not the erased value at byte " + std::to_string(fill);
    else
        wrong = FlashComparison::Difference(FlashComparison::ReadFile(Path("flash.bin")), m_sent);
    if (!wrong.empty()) {
        result.outcome = Outcome::Wrong;
        result.detail = wrong;
    }
}

std::size_t ScheduleRunner::PaddingEnd() const {
    // The buffer marks "no image" in its first byte, which an empty file leaves.
    std::size_t at = std::max<std::size_t>(m_image.size(), 1);
    while (at < m_sent.size() && m_sent[at] == FirmwareImage::kInitialFill)
        ++at;
    return at;
}

void ScheduleRunner::CountFaults(ScheduleResult& result) const {
    std::ifstream log(Path("scope.log"));
    int plugs = 0;
    for (std::string line; std::getline(log, line);) {
        const std::string event = scopelauncher::Field(line, "ev");
        if (event == "reply") {
            const std::string fault = scopelauncher::Field(line, "fault");
            if (!fault.empty() && fault != "none")
                ++result.hits[fault];
        } else if (event == "unplug") {
            ++result.hits["unplug"];
        } else if (event == "plug" && ++plugs > 1) {
            ++result.hits["replug"];
        } else if (event == "busy" && scopelauncher::Field(line, "held") == "1") {
            ++result.hits["busy"];
        }
    }
}
