// How one schedule ended, and the line a schedule's process reports it with.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

enum class Outcome {
    Completed, // the flash holds the image buffer as sent
    Halted,    // the window shows a message and does nothing more
    Waiting,   // the scope is gone and the connect poll goes on
    Wrong,     // completed, but the flash differs
    Hung,      // none of the above within the bound
    Crashed,   // the schedule's process died or reported nothing
    NotRun     // the schedule could not be set up (no virtual scope, ...)
};

const char* OutcomeName(Outcome outcome);
bool IsFailure(Outcome outcome);

struct ScheduleResult {
    std::uint64_t seed = 0;
    Outcome outcome = Outcome::Crashed;
    long long ms = 0;
    // Faults the scope's log shows as applied, by name: "drop", "unplug", "replug", ...
    std::map<std::string, int> hits;
    // Halted: the message as shown ("\r\n" between lines). Otherwise what was wrong, if anything.
    std::string detail;

    // "schedule seed=.. outcome=.. ms=.. hits=drop:1,noise:2 detail=...", one line.
    std::string ToLine() const;
    static std::optional<ScheduleResult> FromLine(const std::string& line);
    // The detail with its line breaks written as \r\n.
    static std::string Escape(const std::string& text);
};
