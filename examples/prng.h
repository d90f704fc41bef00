#pragma once

#include <cstdint>

namespace ringgen {

// splitmix64: tiny, fast and fully specified, so a seed gives the same image on every
// platform and standard library (std:: distributions are implementation-defined).
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1) with 53 random bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Uniform integer in [lo, hi]; the tiny modulo bias is irrelevant for image noise.
    int between(int lo, int hi) {
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(next() % span);
    }

  private:
    std::uint64_t state_;
};

}  // namespace ringgen
