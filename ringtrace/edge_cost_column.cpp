#include "edge_cost_column.h"

#include <algorithm>

namespace ringtrace {

#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
// edge_cost_column_avx2.cpp, edge_cost_column_avx512.cpp
void priceColumnAvx2(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                     int32_t least[9]);
void priceColumnAvx512(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                       int32_t least[9]);
void projectColumnAvx512(const float* g, const float* b, int32_t n, const sweepStep* steps,
                         int count, float* const* out);
#endif

void projectColumnPlain(const float* g, const float* b, int32_t n, const sweepStep* steps,
                        int count, float* const* out) {
    for (int s = 0; s < count; ++s) projectRun(g, b, n, steps[s], out[s]);
}

namespace {

// Whether this build holds the AVX-512 column paths and this processor runs them.
[[maybe_unused]] bool avx512Paths() {
#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

}  // namespace

columnProjector vectorColumnProjector() {
#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
    if (avx512Paths()) return projectColumnAvx512;
#endif
    return nullptr;
}

void priceColumnByRuns(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                       int32_t least[9], runPricer price) {
    constexpr int32_t kStretch = 256;
    alignas(64) int32_t run[9 * kStretch];
    for (int32_t i0 = 0; i0 < n; i0 += kStretch) {
        const int32_t m = std::min(kStretch, n - i0);
        for (int j = 0; j < 9; ++j) {
            const sweepPixels& t = runs.tail[j];
            const sweepPixels& h = runs.head[j];
            price(sweepPixels{t.red + i0, t.support + i0, t.along + i0},
                  sweepPixels{h.red + i0, h.support + i0, h.along + i0}, m, steps[j], &run[j * kStretch]);
        }
        interleaveRuns(run, kStretch, m, out + 9 * static_cast<size_t>(i0), least);
    }
}

void priceColumnPlain(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                      int32_t least[9]) {
    priceColumnByRuns(runs, n, steps, out, least, priceRun);
}

columnPricer avx2ColumnPricer() {
#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
    if (__builtin_cpu_supports("avx2")) return priceColumnAvx2;
#endif
    return nullptr;
}

columnPricer avx512ColumnPricer() {
#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)
    if (avx512Paths()) return priceColumnAvx512;
#endif
    return nullptr;
}

columnPricer vectorColumnPricer() {
    const columnPricer wide = avx512ColumnPricer();
    return wide != nullptr ? wide : avx2ColumnPricer();
}

columnPricer fastestColumnPricer() {
    const columnPricer v = vectorColumnPricer();
    return v != nullptr ? v : priceColumnPlain;
}

}  // namespace ringtrace
