#include "FaultSchedule.h"

#include <charconv>
#include <sstream>
#include <utility>

namespace vscope {

namespace {

// A 64-bit mixing function (the SplitMix64 finaliser): every input bit
// changes about half the output bits.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

bool ParseCount(const std::string& text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value > 0;
}

// Every fault with its name on the command line and in the log.
constexpr std::pair<Fault, const char*> kFaultNames[] = {
    {Fault::None, "none"}, {Fault::Drop, "drop"},   {Fault::Short, "short"}, {Fault::Status, "status"},
    {Fault::Late, "late"}, {Fault::Noise, "noise"}, {Fault::Stall, "stall"}};

} // namespace

const char* FaultName(Fault fault) {
    for (const auto& [f, name] : kFaultNames)
        if (f == fault)
            return name;
    return "none";
}

bool ParseFault(const std::string& name, Fault& fault) {
    for (const auto& [f, known] : kFaultNames) {
        if (f != Fault::None && name == known) {
            fault = f;
            return true;
        }
    }
    return false;
}

std::string FaultSchedule::AddExplicit(const std::string& text) {
    const auto at = text.find('@');
    Fault fault;
    if (at == std::string::npos || !ParseFault(text.substr(0, at), fault))
        return "fault '" + text + "' is not KIND@N[,N...] with KIND one of drop, short, status, late, noise";
    std::stringstream list(text.substr(at + 1));
    std::string item;
    bool any = false;
    while (std::getline(list, item, ',')) {
        std::uint64_t n;
        if (!ParseCount(item, n))
            return "fault '" + text + "': '" + item + "' is not a command number (1 or more)";
        m_explicit[n] = fault;
        any = true;
    }
    if (!any)
        return "fault '" + text + "' names no command number";
    return {};
}

std::string FaultSchedule::SetRandom(std::uint64_t seed, double rate, const std::string& kinds) {
    if (!(rate >= 0 && rate <= 1))
        return "the fault rate must lie between 0 and 1";
    m_kinds.clear();
    std::stringstream list(kinds);
    std::string item;
    while (std::getline(list, item, ',')) {
        Fault fault;
        if (!ParseFault(item, fault))
            return "fault kind '" + item + "' is not one of drop, short, status, late, noise";
        m_kinds.push_back(fault);
    }
    if (m_kinds.empty())
        return "the random fault schedule needs at least one fault kind";
    m_random = true;
    m_seed = seed;
    m_rate = rate;
    return {};
}

Fault FaultSchedule::At(std::uint64_t n) const {
    if (auto it = m_explicit.find(n); it != m_explicit.end())
        return it->second;
    if (!m_random || m_rate <= 0)
        return Fault::None;
    const std::uint64_t h = Mix(m_seed ^ Mix(n));
    // The top 53 bits as a share in [0, 1): exact in a double.
    constexpr double kTwoToThe53 = 9007199254740992.0;
    const double u = double(h >> 11) / kTwoToThe53;
    if (u >= m_rate)
        return Fault::None;
    return m_kinds[Mix(h) % m_kinds.size()];
}

} // namespace vscope
