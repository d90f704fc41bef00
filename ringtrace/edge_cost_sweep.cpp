#include "edge_cost_sweep.h"

#include <cmath>

namespace ringtrace {

// Built for the baseline target and, where the compiler can, for wider vector units; the
// right one is picked at load time from what the processor offers.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
#define RT_CLONES __attribute__((target_clones("default", "avx2", "avx512f")))
#else
#define RT_CLONES
#endif

RT_CLONES
void priceRun(const int8_t* redTail, const int8_t* supportTail, const float* gTail, const float* bTail,
              const int8_t* redHead, const int8_t* supportHead, const float* gHead, const float* bHead,
              int32_t n, const sweepStep& step, uint16_t* out) {
    const double ax = step.ax, ay = step.ay, weight = step.weight;
    const int rowTerm = step.rowTerm;
    for (int32_t i = 0; i < n; ++i) {
        // ceil(half the red sum), exactly as the single-precision ceiling of (sum / 2.0).
        const int L = (redTail[i] + redHead[i] + 1) >> 1;
        // (sum / 256.0) is exact in single precision; multiplying by 1/256 is the same value.
        const double Q = static_cast<double>(supportTail[i] + supportHead[i]) * (1.0 / 256.0);
        const auto Pt = static_cast<float>(ax * gHead[i] + ay * bHead[i]);
        const auto Ps = static_cast<float>(ax * gTail[i] + ay * bTail[i]);
        // Halving is exact either way.
        const auto S = static_cast<float>((static_cast<double>(std::fabs(Pt)) + std::fabs(Ps)) * 0.5);
        const double denominator = ((static_cast<double>(S) + 0.1) * static_cast<double>(L + 1)) * (Q + 0.01);
        const auto c = static_cast<float>(weight / denominator);
        float v = std::ceil(c);
        v = v >= 2000.0f ? 2000.0f : v;
        out[i] = static_cast<uint16_t>(v > 0.0f ? static_cast<int>(v) + rowTerm : 0);
    }
}

}  // namespace ringtrace
