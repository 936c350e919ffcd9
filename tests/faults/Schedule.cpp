// A schedule's plan from its seed, and its run in this process: its image, its
// virtual scope, and Haldrin's real sequencer, link and driver library on real
// Qt timers until the outcome is known; then the flash compared with the image
// buffer as it was sent.
#include "Schedule.h"

#include "DownloadSequencer.h"
#include "LoaderControls.h"
#include "QtWindowTimers.h"
#include "ScopeLauncher.h"
#include "SteadyClock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

using namespace loader;

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kBlock = FirmwareImage::kBlockSize;
constexpr int kShortCommand = 7;                  // bytes on the wire; a program command is 7 + 2048
constexpr auto kBound = std::chrono::seconds(60); // no schedule takes this long; one that does has hung
// Connect polls in a row that found no device before a scope gone for good counts as waited for.
constexpr int kEmptyPolls = 5;
constexpr auto kQuietAfterMessage = std::chrono::milliseconds(300); // nothing more may happen by then
constexpr int kSteps[] = {steps::kConnectPoll, steps::kStartRun, steps::kCapacityQuery, steps::kEraseSector,
                          steps::kBlankCheck,  steps::kSendData, steps::kFinish};

// The same numbers on every machine and library, so that a schedule can be
// rerun from its seed alone.
class SeededRandom {
  public:
    explicit SeededRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t x = (m_state += 0x9E3779B97F4A7C15ull);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }
    int Below(int bound) { return bound > 0 ? static_cast<int>(Next() % static_cast<unsigned>(bound)) : 0; }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Chance(int numerator, int denominator) { return Below(denominator) < numerator; }

  private:
    std::uint64_t m_state;
};
} // namespace

SchedulePlan SchedulePlan::ForSeed(std::uint64_t seed) {
    using std::to_string;
    SchedulePlan plan;
    plan.seed = seed;
    const FaultKind primary = plan.primary = static_cast<FaultKind>(seed % kFaultNames.size());
    SeededRandom random(seed * 0x2545F4914F6CDD1Dull + 1);
    // Small images, often at the edges of a block. The padded image is one
    // block longer than the file's whole blocks, and blocks 0 to T are sent.
    const int shape = random.Below(10);
    plan.imageLength = shape == 0   ? 0
                       : shape <= 2 ? random.Between(1, 4) * kBlock
                       : shape <= 4 ? random.Between(1, 4) * kBlock - 1
                                    : random.Between(1, 5 * kBlock - 1);
    plan.blocksPerSector = random.Between(1, 4);
    const int blocks = static_cast<int>(plan.imageLength / kBlock) + 2;
    const int sectorsNeeded = (blocks + plan.blocksPerSector - 1) / plan.blocksPerSector;
    plan.sectors = sectorsNeeded + random.Below(3);
    // Without faults: hello, geometry, erase and blank check per sector, the blocks, the end.
    const int commands = 3 + 2 * sectorsNeeded + blocks;
    const int bytes = kShortCommand * (3 + 2 * sectorsNeeded) + (kShortCommand + kBlock) * blocks;

    std::map<int, FaultKind> replyFaults; // by command number, 1 for the first
    const auto addReplyFaults = [&](FaultKind kind, int count) {
        for (int i = 0; i < count; ++i)
            replyFaults.emplace(random.Between(1, commands + 1), kind);
    };
    const auto option = [&](std::initializer_list<std::string> words) {
        plan.faultOptions.insert(plan.faultOptions.end(), words);
    };
    const bool slow = primary == FaultKind::Drop || primary == FaultKind::Short;
    switch (primary) {
    case FaultKind::Drop:
    case FaultKind::Short:
    case FaultKind::Status:
    case FaultKind::Noise:
        if (random.Chance(1, 4)) { // the scope's own seeded schedule
            char rate[16];
            std::snprintf(rate, sizeof rate, "0.%02d", slow ? random.Between(8, 20) : random.Between(10, 35));
            option({"--fault-seed", to_string(random.Next() >> 16), "--fault-rate", rate, "--fault-kinds",
                    kFaultNames[static_cast<int>(primary)]});
        } else {
            addReplyFaults(primary, slow ? random.Between(1, 2) : random.Between(1, 3));
        }
        break;
    case FaultKind::Late: {
        // At 2050 ms the reply lands between the read time-out and the retry;
        // later ones land after the retry's purge, as its answer.
        const int when = random.Below(5);
        option({"--late-ms", to_string(when < 3 ? 2050 : when == 3 ? 2150 : 2500)});
        addReplyFaults(primary, random.Chance(1, 5) ? 2 : 1);
        break;
    }
    case FaultKind::Unplug:
    case FaultKind::UnplugReplug:
        // Within the hello (the sequencer still polls), within the bytes, or
        // after a command. Only a scope that goes within the hello can be
        // found again: weigh that case more when it comes back.
        switch (primary == FaultKind::UnplugReplug && random.Chance(1, 4) ? 0 : random.Below(3)) {
        case 0:
            option({"--unplug-after-bytes", to_string(random.Between(1, kShortCommand))});
            break;
        case 1:
            option({"--unplug-after-bytes", to_string(random.Between(kShortCommand + 1, bytes))});
            break;
        default:
            option({"--unplug-after-commands", to_string(random.Between(1, commands))});
            break;
        }
        plan.unplugs = true;
        plan.replugs = primary == FaultKind::UnplugReplug;
        if (plan.replugs)
            option({"--replug-after-ms", to_string(random.Between(20, 800))});
        break;
    case FaultKind::Busy:
        // Held for good, or released around the sixth failed open.
        if (random.Chance(1, 4))
            option({"--busy"});
        else
            option({"--busy-for-ms", to_string(random.Between(0, 1200))});
        break;
    }
    // Some schedules mix in a second, quick reply fault, a few a slow one.
    if (random.Chance(1, 3)) {
        const int count = random.Between(1, 2);
        addReplyFaults(random.Chance(1, 2) ? FaultKind::Status : FaultKind::Noise, count);
    }
    if (primary != FaultKind::Late && random.Chance(1, 8))
        addReplyFaults(random.Chance(1, 2) ? FaultKind::Drop : FaultKind::Short, 1);
    std::map<FaultKind, std::string> lists;
    for (const auto& [n, kind] : replyFaults)
        lists[kind] += (lists[kind].empty() ? "" : ",") + to_string(n);
    for (const auto& [kind, list] : lists)
        option({"--fault", kFaultNames[static_cast<int>(kind)] + ("@" + list)});
    return plan;
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

namespace {
struct Verdict {
    Outcome outcome = Outcome::Crashed;
    std::string detail;
};

// The window: the status line kept, and the connect polls in a row that found
// no device counted; the selection names the image, the completion dialog
// answers Finish, messages are kept.
struct ScriptedWindow : LoaderView, LoaderPrompts {
    std::string image, status;
    int emptyPolls = 0;
    std::vector<std::string> messages;
    int finishDialogs = 0;
    void SetText(int control, const std::string& text) override {
        if (control != controls::kStatus)
            return;
        status = text;
        emptyPolls = text.rfind("Not Connected... 0 device", 0) == 0 ? emptyPolls + 1 : 0;
    }
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override {
        ++finishDialogs;
        return FinishChoice::Finish;
    }
    std::optional<std::string> ChooseFile() override { return image; }
    void EndDialog(DialogEnd) override {}
};

// Empty when blocks 0 to T were acknowledged, the buffer holds the file's
// bytes and then the erased value, and the flash holds the buffer.
std::string CompletedWrongly(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& sent,
                             int acknowledged, const std::string& flashFile) {
    if (static_cast<std::size_t>(acknowledged) * kBlock != sent.size())
        return "completed with " + std::to_string(acknowledged) + " of the blocks 0 to " +
               std::to_string(sent.size() / kBlock - 1) + " acknowledged";
    std::vector<std::uint8_t> expected = image;
    expected.resize(std::max(sent.size(), image.size()), FirmwareImage::kInitialFill);
    // The buffer marks "no image" in its first byte, which an empty file leaves.
    if (image.empty() && !sent.empty())
        expected[0] = sent[0];
    if (sent != expected)
        return "the image buffer is not the file's bytes and then the erased value";
    std::ifstream in(flashFile, std::ios::binary);
    const std::vector<std::uint8_t> flash{std::istreambuf_iterator<char>(in), {}};
    if (flash.size() < sent.size())
        return "the flash holds " + std::to_string(flash.size()) + " bytes, fewer than the blocks sent";
    const std::size_t at = std::mismatch(sent.begin(), sent.end(), flash.begin()).first - sent.begin();
    return at == sent.size() ? ""
                             : "the flash differs from the blocks sent in block " +
                                   std::to_string(at / kBlock) + " at " + std::to_string(at % kBlock);
}

// Runs the loader until the outcome is known, then stops the scope; a completed
// run is checked against the image and the flash the scope wrote as it exited.
Verdict RunLoader(const SchedulePlan& plan, const std::vector<std::uint8_t>& image, const std::string& dir,
                  scopelauncher::ScopeLauncher& scope, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ScopeLink link;
    appsupport::SteadyClock clock;
    ScriptedWindow window;
    window.image = dir + "/image.BIN";
    DownloadSequencer* sequencer = nullptr;
    appsupport::QtWindowTimers timers([&sequencer](int id) { sequencer->OnLoaderTimer(id); });
    DownloadSequencer running(link, timers, clock, window, window);
    sequencer = &running;

    const auto armed = [&] {
        std::string ids;
        for (const int id : kSteps)
            if (timers.IsActive(id))
                ids += (ids.empty() ? "" : ",") + std::to_string(id);
        return ids;
    };
    const auto state = [&] {
        return "status \"" + window.status + "\", block " + std::to_string(running.BlockIndex()) + ", " +
               std::to_string(running.ErrorCount()) +
               " errors, armed step timers: " + (armed().empty() ? "none" : armed()) + ", scope " +
               (scope.Plugged() ? "plugged in" : "gone");
    };
    const auto deadline = Clock::now() + kBound;
    std::optional<Clock::time_point> messageAt;
    const auto decide = [&]() -> std::optional<Verdict> {
        if (const std::string ended = scope.Ended(); !ended.empty())
            return Verdict{Outcome::Crashed, "the virtual scope " + ended + "; " + state()};
        if (window.finishDialogs > 0) {
            if (!window.messages.empty() || !armed().empty() || window.finishDialogs > 1)
                return Verdict{Outcome::Hung, "completed but goes on: " + state()};
            return Verdict{Outcome::Completed, {}};
        }
        if (!window.messages.empty()) {
            // One message, and then nothing more.
            if (!messageAt)
                messageAt = Clock::now();
            if (Clock::now() - *messageAt < kQuietAfterMessage)
                return std::nullopt;
            if (window.messages.size() > 1 || !armed().empty())
                return Verdict{Outcome::Hung,
                               "goes on after the message \"" + window.messages[0] + "\": " + state()};
            return Verdict{Outcome::Halted, window.messages[0]};
        }
        if (plan.unplugs && !plan.replugs && !scope.Plugged() && window.emptyPolls >= kEmptyPolls &&
            timers.IsActive(steps::kConnectPoll))
            return Verdict{Outcome::Waiting, {}};
        if (Clock::now() >= deadline)
            return Verdict{Outcome::Hung, "no outcome within the bound: " + state()};
        return std::nullopt;
    };
    Verdict verdict;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const auto decided = decide()) {
            verdict = *decided;
            watch.stop();
            app.exit(0);
        }
    });
    // The window's start: reset, then the connect poll every 100 ms.
    running.ResetWindow();
    watch.start();
    app.exec();
    if (scope.Stop() == scopelauncher::ScopeLauncher::kKilled)
        return {Outcome::Hung, "the virtual scope did not exit on SIGTERM within 5 s"};
    if (verdict.outcome != Outcome::Completed)
        return verdict;
    // Blocks 0 to T as the image buffer held them.
    const std::uint8_t* buffer = link.Image().Data();
    const std::vector<std::uint8_t> sent(buffer, buffer + (link.ImageLength() / kBlock + 1) * kBlock);
    const std::string wrong = CompletedWrongly(image, sent, running.BlockIndex(), dir + "/flash.bin");
    return wrong.empty() ? verdict : Verdict{Outcome::Wrong, wrong};
}

} // namespace

void RunSchedule(std::uint64_t seed, const std::string& dir, bool verbose, int argc, char** argv) {
    const SchedulePlan plan = SchedulePlan::ForSeed(seed);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const std::vector<std::uint8_t> image = plan.ImageBytes();
    std::ofstream imageFile(dir + "/image.BIN", std::ios::binary);
    imageFile.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    imageFile.close();
    std::vector<std::string> options = {"--firmware",          "bootloader",
                                        "--flash-file",        dir + "/flash.bin",
                                        "--blocks-per-sector", std::to_string(plan.blocksPerSector),
                                        "--sectors",           std::to_string(plan.sectors)};
    for (const char* delay : {"--throughput", "--latency-ms", "--erase-ms", "--program-ms"})
        options.insert(options.end(), {delay, "0"});
    options.insert(options.end(), plan.faultOptions.begin(), plan.faultOptions.end());

    scopelauncher::ScopeLauncher scope;
    const std::string error = imageFile.good() ? scope.Start(options, "scope0", dir + "/scope.log")
                                               : "cannot write the image file in " + dir;
    const Verdict verdict =
        error.empty() ? RunLoader(plan, image, dir, scope, argc, argv) : Verdict{Outcome::NotRun, error};
    if (verbose) {
        std::fprintf(stderr, "virtual scope log (%s/scope.log):\n", dir.c_str());
        for (const std::string& line : scope.LogLines())
            std::fprintf(stderr, "  %s\n", line.c_str());
    }
    std::ofstream(dir + "/result") << kOutcomeNames[static_cast<int>(verdict.outcome)] << '\n'
                                   << verdict.detail;
}
