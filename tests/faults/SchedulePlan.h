// One fault schedule, derived from its seed alone: the image, the scope's
// flash geometry and the faults the virtual scope is told to inject.
#pragma once

#include "FaultKind.h"
#include "SeededRandom.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct SchedulePlan {
    std::uint64_t seed = 0;
    // Seeds run through the kinds in turn, so any run of 8 consecutive seeds
    // has each kind as its main fault once.
    FaultKind primary = FaultKind::Drop;
    std::set<FaultKind> kinds;

    long long imageLength = 0;
    int blocksPerSector = 1;
    int sectors = 1;

    // Reply faults by command number (1 = the first command the scope receives).
    std::map<int, FaultKind> explicitFaults;
    // The scope's own seeded schedule for one kind; rate 0 = none.
    FaultKind randomKind = FaultKind::Drop;
    int randomPercent = 0;
    std::uint64_t randomSeed = 0;
    int lateMs = 2050;

    int unplugAfterCommands = 0; // 0 = never
    int unplugAfterBytes = 0;    // 0 = never
    int replugAfterMs = -1;      // < 0 = the scope stays away
    bool busyForever = false;
    int busyForMs = -1; // < 0 = not busy at the start

    static SchedulePlan ForSeed(std::uint64_t seed);

    bool Unplugs() const { return unplugAfterCommands > 0 || unplugAfterBytes > 0; }
    bool Replugs() const { return Unplugs() && replugAfterMs >= 0; }
    // Blocks 0 to T of the padded image: T + 1 of them.
    int BlocksSent() const;
    // Commands and bytes of a download without faults, end command included.
    int ExpectedCommands() const;
    long long ExpectedBytes() const;

    std::vector<std::uint8_t> ImageBytes() const;
    // Options for the virtual scope's boot loader, without --name and --log.
    std::vector<std::string> ScopeOptions(const std::string& flashFile) const;
    // The fault options alone.
    std::vector<std::string> FaultOptions() const;
    // One line: image, geometry and faults.
    std::string Describe() const;

  private:
    int SectorsNeeded() const;
    void AddReplyFaults(FaultKind kind, int count, SeededRandom& random);
    void PlanPrimary(SeededRandom& random);
};
