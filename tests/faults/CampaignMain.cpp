// haldrin-fault-campaign: seeded fault schedules through Haldrin's real
// sequencer, Qt timers, driver library and the virtual scope. Every schedule
// must end completed (the flash equal to the image buffer), halted with a
// message, or waiting for a scope that has gone; never wrong, hung or crashed.
#include "CampaignDriver.h"
#include "ScheduleRunner.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
const char* const kUsage =
    "Usage: haldrin-fault-campaign [--schedules N] [--first-seed S] [--jobs J] [--list]\n"
    "       haldrin-fault-campaign --seed S\n"
    "Runs N seeded fault schedules (default 120, seeds S, S+1, ...; default S = 1), J at a time\n"
    "(default 8), each in a process of its own with its own virtual scope, and prints the count\n"
    "of each fault kind and each outcome. --seed reruns one schedule and shows its plan and the\n"
    "virtual scope's log; --list prints every schedule's outcome and plan. Exit status 0 when no\n"
    "schedule ended wrong, hung or crashed, or could not be run.\n";

bool ParseNumber(const char* text, unsigned long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

int RunOneSchedule(int argc, char** argv, unsigned long long seed, const std::string& dir, bool verbose) {
    ScheduleRunner runner(SchedulePlan::ForSeed(seed), dir, verbose);
    const ScheduleResult result = runner.Run(argc, argv);
    std::printf("%s\n", result.ToLine().c_str());
    std::fflush(stdout);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    CampaignOptions options;
    unsigned long long runSeed = 0;
    bool runOne = false;
    bool verbose = false;
    std::string workDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned long long value = 0;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--verbose") {
            verbose = true;
            continue;
        }
        if (arg == "--list") {
            options.list = true;
            continue;
        }
        if (i + 1 == argc) {
            std::fprintf(stderr, "haldrin-fault-campaign: %s needs a value\n%s", arg.c_str(), kUsage);
            return 2;
        }
        const char* text = argv[++i];
        if (arg == "--work-dir") {
            workDir = text;
            continue;
        }
        const bool number = ParseNumber(text, value);
        if (number && arg == "--schedules" && value > 0 && value <= 1000000)
            options.schedules = static_cast<int>(value);
        else if (number && arg == "--first-seed")
            options.firstSeed = value;
        else if (number && arg == "--jobs" && value > 0 && value <= 64)
            options.jobs = static_cast<int>(value);
        else if (number && arg == "--seed")
            options.firstSeed = value, options.schedules = 1, options.jobs = 1, options.verbose = true;
        else if (number && arg == "--run-schedule")
            runSeed = value, runOne = true;
        else {
            std::fprintf(stderr, "haldrin-fault-campaign: bad option %s %s\n%s", arg.c_str(), text, kUsage);
            return 2;
        }
    }
    if (runOne) {
        if (workDir.empty()) {
            std::fprintf(stderr, "haldrin-fault-campaign: --run-schedule needs --work-dir\n");
            return 2;
        }
        return RunOneSchedule(argc, argv, runSeed, workDir, verbose);
    }
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error) {
        std::fprintf(stderr, "haldrin-fault-campaign: cannot find its own program: %s\n",
                     error.message().c_str());
        return 2;
    }
    return CampaignDriver(options, self).Run();
}
