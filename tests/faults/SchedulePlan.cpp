#include "SchedulePlan.h"

#include "FirmwareImage.h"

#include <cstdio>

namespace {
constexpr int kBlock = loader::FirmwareImage::kBlockSize;
// A command without data is 7 bytes on the wire, a program command 7 + 2048.
constexpr long long kShortCommandBytes = 7;
constexpr long long kBlockCommandBytes = 7 + kBlock;
} // namespace

SchedulePlan SchedulePlan::ForSeed(std::uint64_t seed) {
    SchedulePlan plan;
    plan.seed = seed;
    plan.primary = kAllFaultKinds[seed % kFaultKindCount];
    SeededRandom random(seed * 0x2545F4914F6CDD1Dull + 1);

    // Small images, often at the edges of a block: the padded image is one
    // block longer than the file's whole blocks, and one more block is sent.
    const int shape = random.Below(10);
    if (shape == 0)
        plan.imageLength = 0;
    else if (shape <= 2)
        plan.imageLength = static_cast<long long>(random.Between(1, 4)) * kBlock;
    else if (shape <= 4)
        plan.imageLength = static_cast<long long>(random.Between(1, 4)) * kBlock - 1;
    else
        plan.imageLength = random.Between(1, 5 * kBlock - 1);
    plan.blocksPerSector = random.Between(1, 4);
    plan.sectors = plan.SectorsNeeded() + random.Below(3);

    plan.PlanPrimary(random);
    // Some schedules mix in a second, quick reply fault, a few a slow one.
    if (random.Chance(1, 3))
        plan.AddReplyFaults(random.Chance(1, 2) ? FaultKind::Status : FaultKind::Noise, random.Between(1, 2),
                            random);
    if (plan.primary != FaultKind::Late && random.Chance(1, 8))
        plan.AddReplyFaults(random.Chance(1, 2) ? FaultKind::Drop : FaultKind::Short, 1, random);
    return plan;
}

void SchedulePlan::PlanPrimary(SeededRandom& random) {
    kinds.insert(primary);
    switch (primary) {
    case FaultKind::Drop:
    case FaultKind::Short:
    case FaultKind::Status:
    case FaultKind::Noise: {
        const bool slow = primary == FaultKind::Drop || primary == FaultKind::Short;
        if (random.Chance(1, 4)) {
            randomKind = primary;
            randomPercent = slow ? random.Between(8, 20) : random.Between(10, 35);
            randomSeed = random.Next() >> 16;
        } else {
            AddReplyFaults(primary, slow ? random.Between(1, 2) : random.Between(1, 3), random);
        }
        break;
    }
    case FaultKind::Late: {
        // At the default the reply lands between the read time-out and the
        // retry; later ones land after the retry's purge, as its answer.
        const int when = random.Below(5);
        lateMs = when < 3 ? 2050 : when == 3 ? 2150 : 2500;
        AddReplyFaults(primary, random.Chance(1, 5) ? 2 : 1, random);
        break;
    }
    case FaultKind::Unplug:
    case FaultKind::UnplugReplug:
        // Only a scope that goes within the hello can be found again: weigh
        // that case more when it comes back.
        switch (primary == FaultKind::UnplugReplug && random.Chance(1, 4) ? 0 : random.Below(3)) {
        case 0: // within the hello: the sequencer is still polling
            unplugAfterBytes = random.Between(1, static_cast<int>(kShortCommandBytes));
            break;
        case 1:
            unplugAfterBytes =
                random.Between(static_cast<int>(kShortCommandBytes) + 1, static_cast<int>(ExpectedBytes()));
            break;
        default:
            unplugAfterCommands = random.Between(1, ExpectedCommands());
            break;
        }
        if (primary == FaultKind::UnplugReplug)
            replugAfterMs = random.Between(20, 800);
        break;
    case FaultKind::Busy:
        // Held for good, or released around the sixth failed open.
        if (random.Chance(1, 4))
            busyForever = true;
        else
            busyForMs = random.Between(0, 1200);
        break;
    }
}

void SchedulePlan::AddReplyFaults(FaultKind kind, int count, SeededRandom& random) {
    for (int i = 0; i < count; ++i)
        if (explicitFaults.emplace(random.Between(1, ExpectedCommands() + 1), kind).second)
            kinds.insert(kind);
}

int SchedulePlan::BlocksSent() const {
    return static_cast<int>(imageLength / kBlock) + 2;
}

int SchedulePlan::SectorsNeeded() const {
    return (BlocksSent() + blocksPerSector - 1) / blocksPerSector;
}

int SchedulePlan::ExpectedCommands() const {
    // hello, geometry, erase and blank check per sector, the blocks, the end.
    return 3 + 2 * SectorsNeeded() + BlocksSent();
}

long long SchedulePlan::ExpectedBytes() const {
    return kShortCommandBytes * (3 + 2 * SectorsNeeded()) + kBlockCommandBytes * BlocksSent();
}

std::vector<std::uint8_t> SchedulePlan::ImageBytes() const {
    SeededRandom random(seed ^ 0x5EEDF00Dull);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(imageLength));
    // Plenty of the frame bytes 0x02 and 0x03, and of 0xFF, the erased value.
    for (std::uint8_t& b : bytes) {
        const std::uint64_t r = random.Next();
        const int pick = static_cast<int>(r % 16);
        b = pick == 0 ? 0x02 : pick == 1 ? 0x03 : pick == 2 ? 0xFF : static_cast<std::uint8_t>(r >> 8);
    }
    return bytes;
}

std::vector<std::string> SchedulePlan::ScopeOptions(const std::string& flashFile) const {
    using std::to_string;
    std::vector<std::string> o = {"--firmware",          "bootloader",
                                  "--blocks-per-sector", to_string(blocksPerSector),
                                  "--sectors",           to_string(sectors),
                                  "--flash-file",        flashFile,
                                  "--throughput",        "0",
                                  "--latency-ms",        "0",
                                  "--erase-ms",          "0",
                                  "--program-ms",        "0"};
    const std::vector<std::string> faults = FaultOptions();
    o.insert(o.end(), faults.begin(), faults.end());
    return o;
}

std::vector<std::string> SchedulePlan::FaultOptions() const {
    using std::to_string;
    std::vector<std::string> o;
    std::map<FaultKind, std::string> lists;
    for (const auto& [n, kind] : explicitFaults)
        lists[kind] += (lists[kind].empty() ? "" : ",") + to_string(n);
    for (const auto& [kind, list] : lists)
        o.insert(o.end(), {"--fault", std::string(FaultKindName(kind)) + "@" + list});
    if (randomPercent > 0) {
        char rate[16];
        std::snprintf(rate, sizeof rate, "0.%02d", randomPercent);
        o.insert(o.end(), {"--fault-seed", to_string(randomSeed), "--fault-rate", rate, "--fault-kinds",
                           FaultKindName(randomKind)});
    }
    if (kinds.count(FaultKind::Late))
        o.insert(o.end(), {"--late-ms", to_string(lateMs)});
    if (unplugAfterCommands > 0)
        o.insert(o.end(), {"--unplug-after-commands", to_string(unplugAfterCommands)});
    if (unplugAfterBytes > 0)
        o.insert(o.end(), {"--unplug-after-bytes", to_string(unplugAfterBytes)});
    if (Replugs())
        o.insert(o.end(), {"--replug-after-ms", to_string(replugAfterMs)});
    if (busyForever)
        o.push_back("--busy");
    if (busyForMs >= 0)
        o.insert(o.end(), {"--busy-for-ms", to_string(busyForMs)});
    return o;
}

std::string SchedulePlan::Describe() const {
    std::string text = "seed " + std::to_string(seed) + ", main fault " + FaultKindName(primary) +
                       ": image " + std::to_string(imageLength) + " bytes (blocks 0 to " +
                       std::to_string(BlocksSent() - 1) + " sent), flash " + std::to_string(sectors) +
                       " sectors of " + std::to_string(blocksPerSector) + " blocks; scope";
    for (const std::string& option : FaultOptions())
        text += " " + option;
    return text;
}
