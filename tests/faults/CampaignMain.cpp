// haldrin-fault-campaign: seeded fault schedules through Haldrin's real
// sequencer, Qt timers, driver library and the virtual scope, each schedule in
// a process group of its own (its virtual scope joins it), a few at a time.
// Every schedule must end completed (the flash equal to the image buffer),
// halted with a message, or waiting for a scope that has gone; never wrong,
// hung or crashed.
#include "Schedule.h"
#include "ScopeLauncher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

const char* const kUsage =
    "Usage: haldrin-fault-campaign [--schedules N] [--first-seed S] [--jobs J]\n"
    "       haldrin-fault-campaign --seed S\n"
    "Runs N seeded fault schedules (default 120, seeds S, S+1, ...; default S = 1), J at a time\n"
    "(default 8), each in a process of its own with its own virtual scope, and prints the count\n"
    "of each outcome by main fault kind. --seed reruns one schedule and shows its plan and the\n"
    "virtual scope's log. Exit status 0 when no schedule ended wrong, hung or crashed, or could\n"
    "not be run.\n";
// A schedule's process gets this long to report, then ends on SIGALRM, hung.
constexpr unsigned kHardBoundS = 90;

struct Options {
    std::uint64_t firstSeed = 1;
    int schedules = 120;
    int jobs = 8;
    bool verbose = false; // the plan, and the scope's log on standard error
};

// This program again with --run-schedule, in a process group of its own (its
// virtual scope joins it) that dies with the campaign; its standard error goes
// to runner.err in its folder unless verbose.
pid_t StartSchedule(const std::string& self, std::uint64_t seed, const std::string& folder, bool verbose) {
    const std::string seedText = std::to_string(seed), err = folder + "/runner.err";
    const char* argv[] = {
        self.c_str(), "--run-schedule", seedText.c_str(), folder.c_str(), verbose ? "verbose" : "quiet",
        nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        alarm(kHardBoundS);
        if (const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644); fd >= 0 && !verbose)
            dup2(fd, 2);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);
    return pid;
}

// How a schedule's process ended: its exit status and the report in its folder.
std::pair<Outcome, std::string> Judge(int status, const std::string& folder) {
    std::ifstream report(folder + "/result");
    std::string name, detail;
    std::getline(report, name);
    std::getline(report, detail, '\0');
    const auto known = std::find(kOutcomeNames.begin(), kOutcomeNames.end(), name);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return {Outcome::Hung, "no report within " + std::to_string(kHardBoundS) + " s"};
    if (WIFSIGNALED(status))
        return {Outcome::Crashed, std::string("killed by signal ") + strsignal(WTERMSIG(status))};
    if (known == kOutcomeNames.end() || WEXITSTATUS(status) != 0)
        return {Outcome::Crashed,
                "exited with code " + std::to_string(WEXITSTATUS(status)) + ", report '" + name + "'"};
    return {static_cast<Outcome>(known - kOutcomeNames.begin()), detail};
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

// Outcomes, and faults of any kind that the virtual scope's log shows applied:
// by main fault, and for all schedules.
struct Tally {
    int schedules = 0;
    std::array<std::array<int, kOutcomeNames.size() + 1>, kFaultNames.size() + 1> rows{};
    std::vector<std::string> failures;

    static bool IsFailure(Outcome outcome) { return outcome > Outcome::Waiting; }
    void Add(const SchedulePlan& plan, Outcome outcome, const std::string& line,
             const std::string& scopeLog) {
        ++schedules;
        int applied = 0;
        std::ifstream log(scopeLog);
        for (std::string entry; std::getline(log, entry);) {
            const std::string ev = scopelauncher::Field(entry, "ev"),
                              fault = scopelauncher::Field(entry, "fault");
            applied += (ev == "reply" && !fault.empty() && fault != "none") || ev == "unplug" ||
                       (ev == "busy" && scopelauncher::Field(entry, "held") == "1");
        }
        for (auto* row : {&rows[static_cast<int>(plan.primary)], &rows.back()}) {
            ++(*row)[static_cast<int>(outcome)];
            row->back() += applied;
        }
        if (IsFailure(outcome))
            failures.push_back(line);
    }
    void Print(const std::string& self) const {
        std::printf("\n%-14s", "main fault");
        for (const char* name : kOutcomeNames)
            std::printf(" %9s", name);
        std::printf(" %9s\n", "applied");
        for (std::size_t k = 0; k < rows.size(); ++k) {
            std::printf("%-14s", k < kFaultNames.size() ? kFaultNames[k] : "all");
            for (const int count : rows[k])
                std::printf(" %9d", count);
            std::printf("\n");
        }
        if (failures.empty())
            std::printf("no WRONG, hung, crashed or unrun schedule\n");
        else
            std::printf("%zu FAILED schedules (rerun one alone: %s --seed S):\n", failures.size(),
                        self.c_str());
        for (const std::string& failure : failures)
            std::printf("  %s\n", failure.c_str());
    }
};

int Failed(const std::string& what) {
    std::fprintf(stderr, "haldrin-fault-campaign: %s: %s\n", what.c_str(), std::strerror(errno));
    return 1;
}

int RunCampaign(const Options& options, const std::string& self) {
    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t end = options.firstSeed + static_cast<std::uint64_t>(options.schedules);
    std::printf("Haldrin fault campaign: %d schedules, seeds %llu to %llu, %d at a time\n", options.schedules,
                static_cast<unsigned long long>(options.firstSeed), static_cast<unsigned long long>(end - 1),
                options.jobs);
    if (options.verbose) {
        const SchedulePlan plan = SchedulePlan::ForSeed(options.firstSeed);
        std::printf("image of %lld bytes, %d sectors of %d blocks; faults:", plan.imageLength, plan.sectors,
                    plan.blocksPerSector);
        for (const std::string& option : plan.faultOptions)
            std::printf(" %s", option.c_str());
        std::printf("\n");
    }
    std::fflush(stdout);
    // A folder for each schedule in one of the campaign's; those of failed schedules stay.
    std::string top = (fs::temp_directory_path() / "haldrin-faults-XXXXXX").string();
    if (!mkdtemp(top.data()))
        return Failed("cannot create the campaign's folder");
    const auto folder = [&](std::uint64_t seed) { return top + "/seed-" + std::to_string(seed); };
    std::map<pid_t, std::uint64_t> running; // schedules' processes and their seeds
    Tally tally;
    std::error_code ignored;
    for (std::uint64_t next = options.firstSeed; next < end || !running.empty();) {
        if (next < end && static_cast<int>(running.size()) < options.jobs) {
            fs::create_directory(folder(next), ignored);
            const pid_t pid = StartSchedule(self, next, folder(next), options.verbose);
            if (pid < 0)
                return Failed("cannot start a schedule's process");
            running[pid] = next++;
            continue;
        }
        // The next to end stays unreaped until what is left of its group is
        // killed, so that its group id cannot pass to another process.
        siginfo_t ended{};
        if (waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0)
            return Failed("cannot wait for the schedules' processes");
        kill(-ended.si_pid, SIGKILL);
        int status = 0;
        waitpid(ended.si_pid, &status, 0);
        const std::uint64_t seed = running[ended.si_pid];
        running.erase(ended.si_pid);
        const auto [outcome, detail] = Judge(status, folder(seed));
        const std::string line = "seed " + std::to_string(seed) + ": " +
                                 kOutcomeNames[static_cast<int>(outcome)] + ": " + Escape(detail);
        tally.Add(SchedulePlan::ForSeed(seed), outcome, line, folder(seed) + "/scope.log");
        if (Tally::IsFailure(outcome)) {
            // With the scope's log and the process's standard error.
            std::printf("%s (folder kept: %s)\n", line.c_str(), folder(seed).c_str());
            std::ifstream err(folder(seed) + "/runner.err");
            for (std::string text; std::getline(err, text);)
                std::printf("    | %s\n", text.c_str());
        } else {
            fs::remove_all(folder(seed), ignored);
            if (options.verbose)
                std::printf("%s\n", line.c_str());
        }
        if (!options.verbose && tally.schedules % std::max(1, options.schedules / 10) == 0)
            std::printf("%6d of %d schedules done, %zu failed\n", tally.schedules, options.schedules,
                        tally.failures.size());
        std::fflush(stdout);
    }
    fs::remove(top, ignored); // unless a failed schedule's folder is in it
    std::printf("\n%d schedules in %.1f s", tally.schedules,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    tally.Print(self);
    std::fflush(stdout);
    return tally.failures.empty() ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    // One schedule in this process, for the campaign: --run-schedule SEED FOLDER verbose|quiet.
    if (argc == 5 && std::string(argv[1]) == "--run-schedule") {
        RunSchedule(std::stoull(argv[2]), argv[3], std::string(argv[4]) == "verbose", argc, argv);
        return 0;
    }
    Options options;
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i];
        char* end = nullptr;
        errno = 0;
        const unsigned long long value = i + 1 < argc ? std::strtoull(argv[i + 1], &end, 10) : 0;
        const bool number = end && end != argv[i + 1] && *end == '\0' && argv[i + 1][0] != '-' && errno == 0;
        if (arg == "--schedules" && number && value > 0 && value <= 1000000)
            options.schedules = static_cast<int>(value);
        else if (arg == "--first-seed" && number)
            options.firstSeed = value;
        else if (arg == "--jobs" && number && value > 0 && value <= 64)
            options.jobs = static_cast<int>(value);
        else if (arg == "--seed" && number)
            options = {value, 1, 1, true};
        else if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "haldrin-fault-campaign: bad option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    std::error_code error;
    const std::string self = fs::read_symlink("/proc/self/exe", error).string();
    if (error) {
        std::fprintf(stderr, "haldrin-fault-campaign: cannot find its own program: %s\n",
                     error.message().c_str());
        return 2;
    }
    return RunCampaign(options, self);
}
