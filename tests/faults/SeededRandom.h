// A small deterministic generator: the same seed gives the same numbers on
// every machine and library, so a schedule can be rerun from its seed alone.
#pragma once

#include <cstdint>

class SeededRandom {
  public:
    explicit SeededRandom(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t Next() {
        std::uint64_t x = (m_state += 0x9E3779B97F4A7C15ull);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }
    // Uniform in [0, bound); 0 for a bound of 0.
    int Below(int bound) { return bound > 0 ? static_cast<int>(Next() % static_cast<unsigned>(bound)) : 0; }
    // Uniform in [low, high].
    int Between(int low, int high) { return low + Below(high - low + 1); }
    // True with probability numerator / denominator.
    bool Chance(int numerator, int denominator) { return Below(denominator) < numerator; }

  private:
    std::uint64_t m_state;
};
