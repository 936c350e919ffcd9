// haldrin-fault-campaign: seeded fault schedules through Haldrin's real sequencer, Qt timers, our
// driver library and the virtual scope, each schedule in a process group of its own (its virtual
// scope joins it), a few at a time. A schedule's image, flash geometry and faults follow from its
// seed alone. Every schedule must end completed, halted or waiting; never wrong, hung or crashed.
#include "DownloadSequencer.h"
#include "LoaderControls.h"
#include "QtWindowTimers.h"
#include "ScopeLauncher.h"
#include "SteadyClock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

using namespace loader;
namespace fs = std::filesystem;

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kBlock = FirmwareImage::kBlockSize;
constexpr int kShortCommand = 7;                  // bytes on the wire; a program command is 7 + 2048
constexpr auto kBound = std::chrono::seconds(60); // no schedule takes this long; one that does has hung
constexpr unsigned kHardBoundS = 90;              // then its process ends on SIGALRM, hung
constexpr int kEmptyPolls = 5; // connect polls in a row finding no device: the scope has gone for good
constexpr auto kQuietAfterMessage = std::chrono::milliseconds(300); // nothing more may happen by then
constexpr int kSteps[] = {steps::kConnectPoll, steps::kStartRun, steps::kCapacityQuery, steps::kEraseSector,
                          steps::kBlankCheck,  steps::kSendData, steps::kFinish};

// The first five are the virtual scope's reply faults, under its own names.
enum class FaultKind { Drop, Short, Status, Late, Noise, Unplug, UnplugReplug, Busy };
constexpr std::array<const char*, 8> kFaultNames = {"drop",  "short",  "status",        "late",
                                                    "noise", "unplug", "unplug+replug", "busy"};
// Completed: the flash holds the image buffer as sent. Halted: one message, then nothing more.
// Waiting: the scope is gone and the connect poll goes on. Wrong: completed, but the flash differs.
// Hung: none of these within the bound. Crashed: the process died or reported nothing. Not run:
// the schedule could not be set up.
enum class Outcome { Completed, Halted, Waiting, Wrong, Hung, Crashed, NotRun };
constexpr std::array<const char*, 7> kOutcomeNames = {"completed", "halted",  "waiting", "WRONG",
                                                      "hung",      "crashed", "not-run"};
using Verdict = std::pair<Outcome, std::string>; // and a halted run's message, or what went wrong
using Strings = std::vector<std::string>;

// The same numbers on every machine and library, so that a schedule can be rerun from its seed alone.
struct SeededRandom {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t x = (state += 0x9E3779B97F4A7C15ull);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }
    int Below(int bound) { return bound > 0 ? static_cast<int>(Next() % static_cast<unsigned>(bound)) : 0; }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Chance(int numerator, int denominator) { return Below(denominator) < numerator; }
};

struct Plan {
    FaultKind primary = FaultKind::Drop; // seeds take the kinds in turn: any 8 in a row have each once
    std::vector<std::uint8_t> image;
    bool unplugs = false, replugs = false;
    Strings scopeOptions; // the flash geometry and the faults
};

Plan PlanFor(std::uint64_t seed) {
    using std::to_string;
    Plan plan;
    const FaultKind primary = plan.primary = static_cast<FaultKind>(seed % kFaultNames.size());
    plan.unplugs = primary == FaultKind::Unplug || primary == FaultKind::UnplugReplug;
    plan.replugs = primary == FaultKind::UnplugReplug;
    SeededRandom random{seed * 0x2545F4914F6CDD1Dull + 1};
    // Small images, often at the edges of a block. The padded image is one
    // block longer than the file's whole blocks, and blocks 0 to T are sent.
    const int shape = random.Below(10);
    const int length = shape == 0   ? 0
                       : shape <= 2 ? random.Between(1, 4) * kBlock
                       : shape <= 4 ? random.Between(1, 4) * kBlock - 1
                                    : random.Between(1, 5 * kBlock - 1);
    const int blocksPerSector = random.Between(1, 4), blocks = length / kBlock + 2;
    const int sectorsNeeded = (blocks + blocksPerSector - 1) / blocksPerSector;
    plan.scopeOptions = {"--blocks-per-sector", to_string(blocksPerSector), "--sectors",
                         to_string(sectorsNeeded + random.Below(3))};
    // Without faults: hello, geometry, erase and blank check per sector, the blocks, the end.
    const int commands = 3 + 2 * sectorsNeeded + blocks,
              bytes = kShortCommand * (3 + 2 * sectorsNeeded) + (kShortCommand + kBlock) * blocks;
    std::map<int, FaultKind> replyFaults; // by command number, 1 for the first
    // count faults of kind, or (on a coin toss, when it differs) of orElse
    const auto addReplyFaults = [&](int count, FaultKind kind, FaultKind orElse) {
        kind = kind == orElse || random.Chance(1, 2) ? kind : orElse;
        for (int i = 0; i < count; ++i)
            replyFaults.emplace(random.Between(1, commands + 1), kind);
    };
    const auto option = [&](const Strings& words) {
        std::ranges::copy(words, back_inserter(plan.scopeOptions));
    };
    const bool slow = primary == FaultKind::Drop || primary == FaultKind::Short;
    if (plan.unplugs) {
        // Within the hello (the sequencer still polls), within the bytes, or after a command. Only a
        // scope that goes within the hello can be found again: weigh that case more when it comes back.
        const int where = plan.replugs && random.Chance(1, 4) ? 0 : random.Below(3);
        option({where < 2 ? "--unplug-after-bytes" : "--unplug-after-commands",
                to_string(where == 0   ? random.Between(1, kShortCommand)
                          : where == 1 ? random.Between(kShortCommand + 1, bytes)
                                       : random.Between(1, commands))});
        if (plan.replugs)
            option({"--replug-after-ms", to_string(random.Between(20, 800))});
    } else if (primary == FaultKind::Late) {
        // At 2050 ms the reply lands between the read time-out and the retry;
        // later ones land after the retry's purge, as its answer.
        const int when = random.Below(5);
        option({"--late-ms", to_string(when < 3 ? 2050 : when == 3 ? 2150 : 2500)});
        addReplyFaults(random.Chance(1, 5) ? 2 : 1, primary, primary);
    } else if (primary == FaultKind::Busy) { // held for good, or released around the sixth failed open
        option(random.Chance(1, 4) ? Strings{"--busy"}
                                   : Strings{"--busy-for-ms", to_string(random.Between(0, 1200))});
    } else if (random.Chance(1, 4)) { // the scope's own seeded schedule
        char rate[16];
        std::snprintf(rate, sizeof rate, "0.%02d", slow ? random.Between(8, 20) : random.Between(10, 35));
        option({"--fault-seed", to_string(random.Next() >> 16), "--fault-rate", rate, "--fault-kinds",
                kFaultNames[static_cast<int>(primary)]});
    } else {
        addReplyFaults(slow ? random.Between(1, 2) : random.Between(1, 3), primary, primary);
    }
    // Some schedules mix in a second, quick reply fault, a few a slow one.
    if (random.Chance(1, 3))
        addReplyFaults(random.Between(1, 2), FaultKind::Status, FaultKind::Noise);
    if (primary != FaultKind::Late && random.Chance(1, 8))
        addReplyFaults(1, FaultKind::Drop, FaultKind::Short);
    std::map<FaultKind, std::string> lists;
    for (const auto& [n, kind] : replyFaults)
        lists[kind] += (lists[kind].empty() ? "" : ",") + to_string(n);
    for (const auto& [kind, list] : lists)
        option({"--fault", kFaultNames[static_cast<int>(kind)] + ("@" + list)});
    // The image: plenty of the frame bytes 0x02 and 0x03, and of 0xFF, the erased value.
    plan.image.resize(static_cast<std::size_t>(length));
    for (SeededRandom imageRandom{seed ^ 0x5EEDF00Dull}; auto& b : plan.image) {
        const std::uint64_t r = imageRandom.Next();
        b = r % 16 == 0 ? 0x02 : r % 16 == 1 ? 0x03 : r % 16 == 2 ? 0xFF : static_cast<std::uint8_t>(r >> 8);
    }
    return plan;
}

// The window: keeps the status line and counts the connect polls in a row that found no device;
// the selection names the image, the completion dialog answers Finish, messages are kept.
struct ScriptedWindow : LoaderView, LoaderPrompts {
    std::string image, status;
    int emptyPolls = 0, finishDialogs = 0;
    std::vector<std::string> messages;
    void SetText(int control, const std::string& text) override {
        if (control == controls::kStatus)
            status = text, emptyPolls = text.starts_with("Not Connected... 0 device") ? emptyPolls + 1 : 0;
    }
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override { return ++finishDialogs, FinishChoice::Finish; }
    std::optional<std::string> ChooseFile() override { return image; }
    void EndDialog(DialogEnd) override {}
};

// One schedule in this process, with the empty folder dir as its runtime folder: its image, its
// virtual scope, and Haldrin's real sequencer, link and library on real Qt timers until the outcome
// is known; then a completed run's flash, which the scope writes as it exits, against the image.
Verdict RunSchedule(std::uint64_t seed, const std::string& dir) {
    const Plan plan = PlanFor(seed);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    if (!std::ofstream(dir + "/image.BIN", std::ios::binary)
             .write(reinterpret_cast<const char*>(plan.image.data()), std::streamsize(plan.image.size()))
             .flush())
        return {Outcome::NotRun, "cannot write the image file in " + dir};
    Strings options = {"--firmware",   "bootloader", "--flash-file", dir + "/flash.bin",
                       "--throughput", "0",          "--latency-ms", "0",
                       "--erase-ms",   "0",          "--program-ms", "0"};
    options.insert(options.end(), plan.scopeOptions.begin(), plan.scopeOptions.end());
    std::fprintf(stderr, "image of %zu bytes; virtual scope:", plan.image.size());
    for (const std::string& option : options)
        std::fprintf(stderr, " %s%s", option.c_str(), &option == &options.back() ? "\n" : "");
    scopelauncher::ScopeLauncher scope;
    if (const std::string error = scope.Start(options, "scope0", dir + "/scope.log"); !error.empty())
        return {Outcome::NotRun, error};

    int argc = 1;
    char name[] = "haldrin-fault-campaign", *argv[] = {name, nullptr};
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
        return ids.empty() ? "none" : ids;
    };
    const auto state = [&] {
        return "status \"" + window.status + "\", block " + std::to_string(running.BlockIndex()) + ", " +
               std::to_string(running.ErrorCount()) + " errors, armed step timers: " + armed() + ", scope " +
               (scope.Plugged() ? "plugged in" : "gone");
    };
    const auto deadline = Clock::now() + kBound;
    std::optional<Clock::time_point> messageAt;
    Verdict verdict{Outcome::Crashed, "no outcome"};
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        std::optional<Verdict> decided;
        if (const std::string ended = scope.Ended(); !ended.empty())
            decided = {Outcome::Crashed, "the virtual scope " + ended + "; " + state()};
        else if (window.finishDialogs > 0)
            decided = !window.messages.empty() || armed() != "none" || window.finishDialogs > 1
                          ? Verdict{Outcome::Hung, "completed but goes on: " + state()}
                          : Verdict{Outcome::Completed, ""};
        else if (!window.messages.empty()) { // one message, and then nothing more
            messageAt = messageAt.value_or(Clock::now());
            if (Clock::now() - *messageAt >= kQuietAfterMessage)
                decided = window.messages.size() > 1 || armed() != "none"
                              ? Verdict{Outcome::Hung, "goes on after the message \"" + window.messages[0] +
                                                           "\": " + state()}
                              : Verdict{Outcome::Halted, window.messages[0]};
        } else if (plan.unplugs && !plan.replugs && !scope.Plugged() && window.emptyPolls >= kEmptyPolls &&
                   timers.IsActive(steps::kConnectPoll))
            decided = {Outcome::Waiting, ""};
        else if (Clock::now() >= deadline)
            decided = {Outcome::Hung, "no outcome within the bound: " + state()};
        if (decided)
            verdict = *decided, watch.stop(), app.exit(0);
    });
    running.ResetWindow(); // the window's start: reset, then the connect poll every 100 ms
    watch.start(10);
    app.exec();
    if (scope.Stop() == scopelauncher::ScopeLauncher::kKilled)
        return {Outcome::Hung, "the virtual scope did not exit on SIGTERM within 5 s"};
    if (verdict.first != Outcome::Completed)
        return verdict;
    // Blocks 0 to T as the image buffer held them: all acknowledged, the file's bytes and then the
    // erased value (an empty file leaves the buffer's "no image" mark in its first byte), in the flash.
    const int blocks = link.ImageLength() / kBlock + 1;
    const std::vector<std::uint8_t> sent(link.Image().Data(), link.Image().Data() + blocks * kBlock);
    if (running.BlockIndex() != blocks)
        return {Outcome::Wrong, "completed with " + std::to_string(running.BlockIndex()) +
                                    " of the blocks 0 to " + std::to_string(blocks - 1) + " acknowledged"};
    std::vector<std::uint8_t> expected = plan.image;
    expected.resize(std::max(sent.size(), plan.image.size()), FirmwareImage::kInitialFill);
    expected[0] = plan.image.empty() ? sent[0] : expected[0]; // sent holds one block at least
    if (sent != expected)
        return {Outcome::Wrong, "the image buffer is not the file's bytes and then the erased value"};
    std::ifstream in(dir + "/flash.bin", std::ios::binary);
    const std::vector<std::uint8_t> flash{std::istreambuf_iterator<char>(in), {}};
    if (const auto at = std::ranges::mismatch(sent, flash).in1 - sent.begin(); at < std::ssize(sent))
        return {Outcome::Wrong, "the flash (" + std::to_string(flash.size()) +
                                    " bytes) differs from the blocks sent in block " +
                                    std::to_string(at / kBlock) + " at " + std::to_string(at % kBlock)};
    return verdict;
}

const char* const kUsage =
    "Usage: haldrin-fault-campaign [--schedules N (120)] [--first-seed S (1)] [--jobs J (8)] | --seed S\n"
    "Runs N seeded fault schedules from seed S on, J at a time, and counts each outcome by main fault;\n"
    "exits with 1 if one was WRONG, hung, crashed or not run. --seed reruns one with the scope's log.\n";

// The schedule of seed in a process of its own, in a process group of its own (its virtual scope
// joins it) that dies with the campaign, its folder as its runtime folder. Its standard error goes
// to runner.err there unless verbose; its report to result: the outcome's name, a line break, the detail.
pid_t StartSchedule(std::uint64_t seed, const std::string& folder, bool verbose) {
    const pid_t pid = fork();
    if (pid > 0)
        setpgid(pid, pid);
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    alarm(kHardBoundS);
    if (!verbose)
        dup2(open((folder + "/runner.err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644), 2);
    const auto [outcome, detail] = RunSchedule(seed, folder);
    std::ifstream log(folder + "/scope.log");
    for (std::string line; verbose && std::getline(log, line);)
        std::fprintf(stderr, "  virtual scope: %s\n", line.c_str());
    std::ofstream(folder + "/result") << kOutcomeNames[static_cast<int>(outcome)] << '\n' << detail;
    std::exit(0); // the parent's output was flushed before the fork
}

// How a schedule's process ended: its exit status and the report in its folder.
Verdict Judge(int status, const std::string& folder) {
    std::ifstream report(folder + "/result");
    std::string name, detail;
    std::getline(std::getline(report, name), detail, '\0');
    const auto known = std::ranges::find(kOutcomeNames, name);
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM
                   ? Verdict{Outcome::Hung, "no report within " + std::to_string(kHardBoundS) + " s"}
                   : Verdict{Outcome::Crashed,
                             std::string("killed by signal ") + strsignal(WTERMSIG(status))};
    if (known == kOutcomeNames.end() || WEXITSTATUS(status) != 0)
        return {Outcome::Crashed,
                "exited with code " + std::to_string(WEXITSTATUS(status)) + ", report '" + name + "'"};
    return {static_cast<Outcome>(known - kOutcomeNames.begin()), detail};
}

int RunCampaign(std::uint64_t firstSeed, int schedules, int jobs, bool verbose, const std::string& self) {
    const auto failed = [](const char* what) {
        return std::fprintf(stderr, "haldrin-fault-campaign: %s: %s\n", what, std::strerror(errno)), 1;
    };
    const auto started = Clock::now();
    const std::uint64_t end = firstSeed + static_cast<std::uint64_t>(schedules);
    std::printf("Haldrin fault campaign: %d schedules, seeds %llu to %llu, %d at a time\n", schedules,
                static_cast<unsigned long long>(firstSeed), static_cast<unsigned long long>(end - 1), jobs);
    std::fflush(stdout);
    // A folder for each schedule in one of the campaign's; those of failed schedules stay.
    std::string top = (fs::temp_directory_path() / "haldrin-faults-XXXXXX").string();
    if (!mkdtemp(top.data()))
        return failed("cannot create the campaign's folder");
    const auto folder = [&](std::uint64_t seed) { return top + "/seed-" + std::to_string(seed); };
    std::map<pid_t, std::uint64_t> running; // schedules' processes and their seeds
    // By main fault, then for all: the outcomes, then the faults the virtual scope's log shows applied.
    std::array<std::array<int, kOutcomeNames.size() + 1>, kFaultNames.size() + 1> rows{};
    std::vector<std::string> failures;
    std::error_code ignored;
    for (std::uint64_t next = firstSeed; next < end || !running.empty();) {
        if (next < end && static_cast<int>(running.size()) < jobs) {
            fs::create_directory(folder(next), ignored);
            const pid_t pid = StartSchedule(next, folder(next), verbose);
            if (pid < 0)
                return failed("cannot start a schedule's process");
            running[pid] = next++;
            continue;
        }
        // The next to end stays unreaped until what is left of its group is
        // killed, so that its group id cannot pass to another process.
        siginfo_t ended{};
        if (waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0)
            return failed("cannot wait for the schedules' processes");
        kill(-ended.si_pid, SIGKILL);
        int status = 0;
        waitpid(ended.si_pid, &status, 0);
        const std::uint64_t seed = running.extract(ended.si_pid).mapped();
        const auto [outcome, detail] = Judge(status, folder(seed));
        std::string line =
            "seed " + std::to_string(seed) + ": " + kOutcomeNames[static_cast<int>(outcome)] + ": ";
        for (const char c : detail)
            line += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
        int applied = 0;
        std::ifstream log(folder(seed) + "/scope.log");
        for (std::string entry; std::getline(log, entry);) {
            const std::string ev = scopelauncher::Field(entry, "ev"),
                              fault = scopelauncher::Field(entry, "fault");
            applied += (ev == "reply" && !fault.empty() && fault != "none") || ev == "unplug" ||
                       (ev == "busy" && scopelauncher::Field(entry, "held") == "1");
        }
        for (auto* row : {&rows[static_cast<int>(PlanFor(seed).primary)], &rows.back()}) {
            ++(*row)[static_cast<int>(outcome)];
            row->back() += applied;
        }
        if (outcome > Outcome::Waiting) { // with the process's standard error
            failures.push_back(line);
            std::printf("%s (folder kept: %s)\n", line.c_str(), folder(seed).c_str());
            std::ifstream err(folder(seed) + "/runner.err");
            for (std::string text; std::getline(err, text);)
                std::printf("    | %s\n", text.c_str());
        } else if (fs::remove_all(folder(seed), ignored); verbose) {
            std::printf("%s\n", line.c_str());
        }
        if (const int done = static_cast<int>(next - firstSeed - running.size());
            !verbose && done % std::max(1, schedules / 10) == 0)
            std::printf("%6d of %d schedules done, %zu failed\n", done, schedules, failures.size());
        std::fflush(stdout); // before the next fork
    }
    fs::remove(top, ignored); // unless a failed schedule's folder is in it
    std::printf("\n%d schedules in %.1f s\n%-14s", schedules,
                std::chrono::duration<double>(Clock::now() - started).count(), "main fault");
    for (const char* name : kOutcomeNames)
        std::printf(" %9s", name);
    std::printf(" %9s", "applied");
    for (std::size_t k = 0; k < rows.size(); ++k) {
        std::printf("\n%-14s", k < kFaultNames.size() ? kFaultNames[k] : "all");
        for (const int count : rows[k])
            std::printf(" %9d", count);
    }
    std::printf("\n%zu schedules WRONG, hung, crashed or not run (rerun one alone: %s --seed S)\n",
                failures.size(), self.c_str());
    for (const std::string& failure : failures)
        std::printf("  %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    std::uint64_t firstSeed = 1;
    int schedules = 120, jobs = 8;
    bool verbose = false; // the plan, and the scope's log on standard error
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i], text = i + 1 < argc ? argv[i + 1] : "";
        const bool number =
            !text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == text.npos;
        const std::uint64_t value = number ? std::stoull(text) : 0;
        if (arg == "--schedules" && number && value > 0 && value <= 1000000)
            schedules = static_cast<int>(value);
        else if (arg == "--first-seed" && number)
            firstSeed = value;
        else if (arg == "--jobs" && number && value > 0 && value <= 64)
            jobs = static_cast<int>(value);
        else if (arg == "--seed" && number)
            firstSeed = value, schedules = 1, jobs = 1, verbose = true;
        else if (arg == "--help")
            return std::fputs(kUsage, stdout), 0;
        else
            return std::fprintf(stderr, "haldrin-fault-campaign: bad option %s\n%s", arg.c_str(), kUsage), 2;
    }
    return RunCampaign(firstSeed, schedules, jobs, verbose, argv[0]);
}
