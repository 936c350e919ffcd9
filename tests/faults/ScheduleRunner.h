// Runs one fault schedule in this process: its image, its virtual scope, and
// Haldrin's real sequencer, link and driver library on real Qt timers, until
// the outcome is known; then compares the flash with the image buffer.
#pragma once

#include "SchedulePlan.h"
#include "ScheduleResult.h"

#include <chrono>
#include <string>
#include <vector>

namespace scopelauncher {
class ScopeLauncher;
}

class ScheduleRunner {
  public:
    // No schedule of the campaign takes this long; one that does has hung.
    static constexpr std::chrono::milliseconds kBound{60000};

    // workDir: an empty folder of this schedule alone; it becomes the runtime
    // folder, so the bridge folder holds this schedule's scope only.
    ScheduleRunner(SchedulePlan plan, std::string workDir, bool verbose);

    ScheduleResult Run(int argc, char** argv);

  private:
    std::string Path(const std::string& name) const { return m_workDir + "/" + name; }
    // Runs the loader until the watch decides; fills the outcome and, for a
    // completed run, the bytes of blocks 0 to T as the buffer held them.
    void RunLoader(int argc, char** argv, scopelauncher::ScopeLauncher& scope, ScheduleResult& result);
    void CheckCompleted(ScheduleResult& result) const;
    // Where the padding after the file's bytes stops being the erased value
    // 0xFF: the end of the blocks sent when all of it is.
    std::size_t PaddingEnd() const;
    void CountFaults(ScheduleResult& result) const;

    SchedulePlan m_plan;
    std::string m_workDir;
    bool m_verbose;
    std::vector<std::uint8_t> m_image;
    std::vector<std::uint8_t> m_sent;
    int m_blocksAcknowledged = 0;
};
