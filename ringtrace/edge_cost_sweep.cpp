#include "edge_cost_sweep.h"

#include <algorithm>
#include <cmath>

namespace ringtrace {

// Built for the baseline target and for wider vector units; the right one is picked at load
// time from what the processor offers. (The baseline has no vector rounding instruction,
// so only the wider builds vectorise.)
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
#define RT_CLONES __attribute__((target_clones("default", "sse4.1", "avx2", "avx512f")))
#else
#define RT_CLONES
#endif

namespace {
inline double single(double v) { return static_cast<double>(static_cast<float>(v)); }
}  // namespace

RT_CLONES
void priceRun(const sweepPixels& tail, const sweepPixels& head, int32_t n, const sweepStep& step, int32_t* out) {
    const int32_t* __restrict redT = tail.red;
    const int32_t* __restrict supT = tail.support;
    const float* __restrict alongT = tail.along;
    const int32_t* __restrict redH = head.red;
    const int32_t* __restrict supH = head.support;
    const float* __restrict alongH = head.along;
    int32_t* __restrict o = out;
    for (int32_t i = 0; i < n; ++i) o[i] = priceOne(redT[i], redH[i], supT[i], supH[i], alongT[i], alongH[i], step);
}

RT_CLONES
void projectRun(const float* g, const float* b, int32_t n, const sweepStep& step, float* out) {
    const double ax = step.ax, ay = step.ay;
    const float* __restrict gs = g;
    const float* __restrict bs = b;
    float* __restrict o = out;
    for (int32_t i = 0; i < n; ++i) o[i] = std::fabs(static_cast<float>(ax * double{gs[i]} + ay * double{bs[i]}));
}

RT_CLONES
void interleaveRuns(const int32_t* runs, int32_t stride, int32_t n, uint16_t* out, int32_t least[9]) {
    const int32_t* __restrict r = runs;
    uint16_t* __restrict o = out;
    const auto s = static_cast<size_t>(stride);
    for (size_t j = 0; j < 9; ++j) {
        int32_t m = least[j];
        for (int32_t i = 0; i < n; ++i) m = std::min(m, r[j * s + static_cast<size_t>(i)]);
        least[j] = m;
    }
    for (int32_t i = 0; i < n; ++i, o += 9) {
        for (size_t j = 0; j < 9; ++j) o[j] = static_cast<uint16_t>(r[j * s + static_cast<size_t>(i)]);
    }
}

RT_CLONES
void unitOrientations(float* __restrict green) {
    for (int32_t gb = 0; gb < 65536; ++gb) {
        const double gv = static_cast<int8_t>(gb & 0xff) - 64;
        const double bv = static_cast<int8_t>(gb >> 8) - 64;
        // Squares and their sum are exact; the length is the single-precision root of the
        // single-precision sum, as for one pixel.
        const double n = single(std::sqrt(single(gv * gv + bv * bv)));
        green[gb] = static_cast<float>(gv / n);
    }
}

}  // namespace ringtrace
