// The column pricer for AVX2: eight edges to a vector in single precision, settled or
// handed to priceOne exactly as the AVX-512 pricer does (see the bound proved there), then
// interleaved by interleaveRuns.
#include "edge_cost_column.h"

#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)

#include <immintrin.h>

namespace ringtrace {

#define RT_AVX2 __attribute__((target("avx2")))

namespace {

RT_AVX2 inline __m256i ints(const int32_t* p, int32_t i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
}

RT_AVX2 void priceRunAvx2(const sweepPixels& t, const sweepPixels& h, int32_t n,
                          const sweepStep& step, int32_t* out) {
    // Scaled as in the AVX-512 pricer: the same quotient.
    const __m256 weight = _mm256_set1_ps(static_cast<float>(step.weight) * 512.0f);
    const __m256i rowTerm = _mm256_set1_epi32(step.rowTerm);
    const __m256 cap = _mm256_set1_ps(2000.0f);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 m = _mm256_cvtepi32_ps(
            _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(ints(t.red, i), ints(h.red, i)),
                                               _mm256_set1_epi32(3)),
                              1));
        const __m256 C256 = _mm256_add_ps(
            _mm256_cvtepi32_ps(_mm256_add_epi32(ints(t.support, i), ints(h.support, i))),
            _mm256_set1_ps(0.01f * 256.0f));
        const __m256 a2 =
            _mm256_add_ps(_mm256_add_ps(_mm256_loadu_ps(t.along + i), _mm256_loadu_ps(h.along + i)),
                          _mm256_set1_ps(0.1f * 2.0f));
        const __m256 q = _mm256_div_ps(weight, _mm256_mul_ps(_mm256_mul_ps(a2, m), C256));
        // A NaN q gives the cap at both ends here; the positive mask clears it.
        const __m256 below = _mm256_min_ps(_mm256_mul_ps(q, _mm256_set1_ps(1.0f - 0x1p-20f)), cap);
        const __m256 above = _mm256_min_ps(_mm256_mul_ps(q, _mm256_set1_ps(1.0f + 0x1p-20f)), cap);
        const __m256i k = _mm256_cvttps_epi32(_mm256_ceil_ps(below));
        const __m256i kAbove = _mm256_cvttps_epi32(_mm256_ceil_ps(above));
        const __m256i positive =
            _mm256_castps_si256(_mm256_cmp_ps(q, _mm256_setzero_ps(), _CMP_GT_OQ));
        const __m256i settled = _mm256_or_si256(
            _mm256_andnot_si256(positive, _mm256_set1_epi32(-1)), _mm256_cmpeq_epi32(k, kAbove));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_and_si256(positive, _mm256_add_epi32(k, rowTerm)));
        const auto unsettled =
            static_cast<unsigned>(~_mm256_movemask_ps(_mm256_castsi256_ps(settled))) & 0xffu;
        for (unsigned bits = unsettled; bits != 0; bits &= bits - 1) {
            const int32_t r = i + __builtin_ctz(bits);
            out[r] = priceOne(t.red[r], h.red[r], t.support[r], h.support[r], t.along[r],
                              h.along[r], step);
        }
    }
    for (; i < n; ++i)
        out[i] =
            priceOne(t.red[i], h.red[i], t.support[i], h.support[i], t.along[i], h.along[i], step);
}

}  // namespace

void priceColumnAvx2(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                     int32_t least[9]) {
    priceColumnByRuns(runs, n, steps, out, least, priceRunAvx2);
}

}  // namespace ringtrace

#endif
