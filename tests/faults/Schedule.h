// One fault schedule of Haldrin's campaign, derived from its seed alone: the
// image, the scope's flash geometry and the faults the virtual scope injects;
// and the outcomes a schedule can have.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The first five are the virtual scope's reply faults, under its own names.
enum class FaultKind { Drop, Short, Status, Late, Noise, Unplug, UnplugReplug, Busy };
constexpr std::array<const char*, 8> kFaultNames = {"drop",  "short",  "status",        "late",
                                                    "noise", "unplug", "unplug+replug", "busy"};

enum class Outcome {
    Completed, // the flash holds the image buffer as sent
    Halted,    // the window shows one message and does nothing more
    Waiting,   // the scope is gone and the connect poll goes on
    Wrong,     // completed, but the flash differs
    Hung,      // none of the above within the bound
    Crashed,   // the schedule's process died or reported nothing
    NotRun     // the schedule could not be set up (no virtual scope, ...)
};
constexpr std::array<const char*, 7> kOutcomeNames = {"completed", "halted",  "waiting", "WRONG",
                                                      "hung",      "crashed", "not-run"};

struct SchedulePlan {
    std::uint64_t seed = 0;
    // Seeds take the kinds in turn: any 8 in a row have each as their main fault once.
    FaultKind primary = FaultKind::Drop;
    long long imageLength = 0;
    int blocksPerSector = 1;
    int sectors = 1;
    bool unplugs = false;
    bool replugs = false;
    std::vector<std::string> faultOptions; // the virtual scope's

    static SchedulePlan ForSeed(std::uint64_t seed);
    std::vector<std::uint8_t> ImageBytes() const;
};

// Runs one schedule in this process, with the empty folder dir as its runtime
// folder, and leaves the outcome in dir/result: its name, a line break, the
// detail (a halted run's message, or what went wrong).
void RunSchedule(std::uint64_t seed, const std::string& dir, bool verbose, int argc, char** argv);
