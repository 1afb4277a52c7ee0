#pragma once
// SplitMix64: small and fully defined by its arithmetic, so every compiler and platform yields the same
// numbers (the <random> distributions are implementation-defined and would not).

#include <cstdint>

namespace velmora {

class CSplitMix64 {
  public:
    explicit CSplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }

  private:
    std::uint64_t state_;
};

}  // namespace velmora
