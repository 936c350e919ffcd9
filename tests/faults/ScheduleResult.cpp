#include "ScheduleResult.h"

#include "ScopeLauncher.h"

#include <array>
#include <sstream>

namespace {
using scopelauncher::Field;

constexpr std::array<Outcome, 7> kOutcomes = {Outcome::Completed, Outcome::Halted, Outcome::Waiting,
                                              Outcome::Wrong,     Outcome::Hung,   Outcome::Crashed,
                                              Outcome::NotRun};

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

} // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Completed:
        return "completed";
    case Outcome::Halted:
        return "halted";
    case Outcome::Waiting:
        return "waiting";
    case Outcome::Wrong:
        return "WRONG";
    case Outcome::Hung:
        return "hung";
    case Outcome::Crashed:
        return "crashed";
    case Outcome::NotRun:
        return "not-run";
    }
    return "?";
}

bool IsFailure(Outcome outcome) {
    return outcome != Outcome::Completed && outcome != Outcome::Halted && outcome != Outcome::Waiting;
}

std::string ScheduleResult::Escape(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
    return out;
}

std::string ScheduleResult::ToLine() const {
    std::string hitList;
    for (const auto& [name, count] : hits)
        hitList += (hitList.empty() ? "" : ",") + name + ":" + std::to_string(count);
    return "schedule seed=" + std::to_string(seed) + " outcome=" + OutcomeName(outcome) +
           " ms=" + std::to_string(ms) + " hits=" + (hitList.empty() ? "-" : hitList) +
           " detail=" + Escape(detail);
}

std::optional<ScheduleResult> ScheduleResult::FromLine(const std::string& line) {
    if (line.rfind("schedule ", 0) != 0)
        return std::nullopt;
    ScheduleResult result;
    const std::string outcome = Field(line, "outcome");
    bool known = false;
    for (const Outcome o : kOutcomes)
        if (outcome == OutcomeName(o))
            result.outcome = o, known = true;
    if (!known)
        return std::nullopt;
    try {
        result.seed = std::stoull(Field(line, "seed"));
        result.ms = std::stoll(Field(line, "ms"));
        std::stringstream hitList(Field(line, "hits"));
        for (std::string item; std::getline(hitList, item, ',');)
            if (const std::size_t colon = item.find(':'); colon != std::string::npos)
                result.hits[item.substr(0, colon)] = std::stoi(item.substr(colon + 1));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const std::size_t detail = line.find(" detail=");
    if (detail != std::string::npos)
        result.detail = Unescape(line.substr(detail + 8));
    return result;
}
