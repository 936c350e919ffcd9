#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vscope {

enum class Fault { None, Drop, Short, Status, Late, Noise, Stall };

const char* FaultName(Fault fault);
bool ParseFault(const std::string& name, Fault& fault);

// Which fault, if any, hits command n (counted from 1 in the order received).
// Explicit entries win; otherwise a seeded schedule decides from the seed and
// n alone, so the same seed gives the same schedule whatever the timing.
class FaultSchedule {
  public:
    // Parses KIND@N[,N...]. Empty on success.
    std::string AddExplicit(const std::string& text);
    // Parses k1,k2,... Empty on success.
    std::string SetRandom(std::uint64_t seed, double rate, const std::string& kinds);

    Fault At(std::uint64_t n) const;

  private:
    std::map<std::uint64_t, Fault> m_explicit;
    bool m_random = false;
    std::uint64_t m_seed = 0;
    double m_rate = 0;
    std::vector<Fault> m_kinds;
};

} // namespace vscope
