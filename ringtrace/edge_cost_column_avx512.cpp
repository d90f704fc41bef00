// The column pricer for AVX-512 (F and BW), sixteen edges to a vector in single precision.
//
// The definition divides in double precision; here the quotient is worked out in single
// precision, which settles the cost whenever the quotient is far enough from an integer,
// and every other lane is priced exactly by priceOne. Why that gives the same cost:
//
// Let u = 2^-24 and q the definition's quotient, w / (((S + 0.1) (L + 1)) (Q + 0.01)) in
// double precision. Its own rounding errors are below 2^-47 relative (six roundings, and
// the double constants 0.1 and 0.01 err by at most 2^-50 relative to S + 0.1 >= 0.1 and to
// |Q + 0.01| >= 0.00171875, the least of |k / 256 + 0.01| over the integers k).
// The single-precision path, each operation rounding by at most u relative (no operand is
// near the under- or overflow range):
//   S' = (alongT + alongH) * 0.5        the same half sum as S, rounded once: |S' - S| <= 2u S
//   a  = S' + 0.1f                      0.1f errs by 0.25u relative to S + 0.1:  <= 3.3u
//   m  = L + 1                          exact
//   C  = k / 256 + 0.01f                0.01f errs by 2.2e-10, 2.2u relative to |Q + 0.01|: <= 3.2u
//   q' = w / ((a m) C)                  two products and the division:          <= 9.5u
// so |q' - q| <= 9.7u q, and fl(q), fl the rounding to single, lies within 10.8u q' of q'.
// The cost is min(ceil(fl(q)), 2000) for positive q. With l and r the products
// q' (1 - 2^-20) and q' (1 + 2^-20) in single precision, l < q' (1 - 14.9u) and
// r > q' (1 + 14.9u), so fl(q) lies strictly between them. Hence:
//   - ceil(min(l, 2000)) = ceil(min(r, 2000)) = n for a positive q': if n < 2000, no integer
//     lies in [l, r), n - 1 < fl(q) <= n and the cost is n; if n = 2000, fl(q) > l > 1999
//     and the cost is 2000 (plus infinity included: both ends are capped to 2000);
//   - q' not positive or NaN: a > 0 and C has the sign of Q + 0.01, so q' and q have the same
//     sign (L + 1 = 0 gives an infinity of the zero's sign, the same one in both), and q is
//     NaN exactly when q' is (a NaN orientation): the cost is 0.
// Every other lane (six or seven in ten thousand on the bench rings) is priced again by priceOne.
#include "edge_cost_column.h"

#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)

#include "x86_vectors.h"

namespace ringtrace {

namespace {

// Interleaving: sixteen rows of nine costs are 144 words, four and a half vectors. Costs
// of steps 0..7 sit in pairs of runs (one vector per pair: step 2p in the low half, 2p + 1
// in the high one), step 8 alone; word 9 i + j of the output is word i of run j.
struct interleavePlan {
    alignas(64) uint16_t index[5][32];
    uint32_t fromUpperPairs[5];  // words taken from runs 4..7
    uint32_t fromLast[5];        // words taken from run 8
};

constexpr interleavePlan makeInterleavePlan() {
    interleavePlan p{};
    for (int t = 0; t < 5; ++t) {
        p.fromUpperPairs[t] = p.fromLast[t] = 0;
        for (int w = 0; w < 32; ++w) {
            const int word = 32 * t + w;
            if (word >= 144) {
                p.index[t][w] = 0;
                continue;
            }
            const int i = word / 9, j = word % 9;
            if (j == 8) {
                p.index[t][w] = static_cast<uint16_t>(i);
                p.fromLast[t] |= 1u << w;
            } else {
                const int pair = j / 2;
                p.index[t][w] = static_cast<uint16_t>((pair & 1) * 32 + (j & 1) * 16 + i);
                if (pair >= 2) p.fromUpperPairs[t] |= 1u << w;
            }
        }
    }
    return p;
}

constexpr interleavePlan kPlan = makeInterleavePlan();

#define RT_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))

RT_AVX512 inline __m512i priceSixteen(const sweepPixels& t, const sweepPixels& h, int32_t i,
                                      __mmask16 valid, const sweepStep& step) {
    const __m512i rT = _mm512_maskz_loadu_epi32(valid, t.red + i);
    const __m512i rH = _mm512_maskz_loadu_epi32(valid, h.red + i);
    const __m512i sT = _mm512_maskz_loadu_epi32(valid, t.support + i);
    const __m512i sH = _mm512_maskz_loadu_epi32(valid, h.support + i);
    const __m512 aT = _mm512_maskz_loadu_ps(valid, t.along + i);
    const __m512 aH = _mm512_maskz_loadu_ps(valid, h.along + i);
    // L + 1 = ceil(red sum / 2) + 1, exact.
    const __m512 m = _mm512_cvtepi32_ps(
        _mm512_srai_epi32(_mm512_add_epi32(_mm512_add_epi32(rT, rH), _mm512_set1_epi32(3)), 1));
    // 256 C and 2 a, each exactly: scaling by a power of two commutes with rounding, and
    // 256 (0.01f) and 2 (0.1f) are the single-precision constants of 2.56 and 0.2. The
    // quotient of 512 w by their product is then the very q' worked out above, for two
    // operations fewer.
    const __m512 C256 =
        _mm512_add_ps(_mm512_cvtepi32_ps(_mm512_add_epi32(sT, sH)), _mm512_set1_ps(0.01f * 256.0f));
    const __m512 a2 = _mm512_add_ps(_mm512_add_ps(aT, aH), _mm512_set1_ps(0.1f * 2.0f));
    const __m512 q = _mm512_div_ps(_mm512_set1_ps(static_cast<float>(step.weight) * 512.0f),
                                   _mm512_mul_ps(_mm512_mul_ps(a2, m), C256));
    // The ceilings of both ends of q's interval, capped; an infinite q gives 2000 at both.
    const __m512 cap = _mm512_set1_ps(2000.0f);
    const __m512 below = _mm512_min_ps(_mm512_mul_ps(q, _mm512_set1_ps(1.0f - 0x1p-20f)), cap);
    const __m512 above = _mm512_min_ps(_mm512_mul_ps(q, _mm512_set1_ps(1.0f + 0x1p-20f)), cap);
    const __m512i k = _mm512_cvt_roundps_epi32(below, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
    const __m512i kAbove =
        _mm512_cvt_roundps_epi32(above, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
    const __mmask16 positive = _mm512_cmp_ps_mask(q, _mm512_setzero_ps(), _CMP_GT_OQ);
    const auto settled = static_cast<__mmask16>(~positive | _mm512_cmpeq_epi32_mask(k, kAbove));
    __m512i cost = _mm512_maskz_add_epi32(positive, k, _mm512_set1_epi32(step.rowTerm));
    const auto unsettled = static_cast<__mmask16>(valid & ~settled);
    if (unsettled != 0) [[unlikely]] {
        alignas(64) int32_t lanes[16];
        _mm512_store_si512(lanes, cost);
        for (unsigned bits = unsettled; bits != 0; bits &= bits - 1) {
            const int l = __builtin_ctz(bits);
            const int32_t r = i + l;
            lanes[l] = priceOne(t.red[r], h.red[r], t.support[r], h.support[r], t.along[r],
                                h.along[r], step);
        }
        cost = _mm512_load_si512(lanes);
    }
    return cost;
}

}  // namespace

RT_AVX512 void priceColumnAvx512(const columnRuns& runs, int32_t n, const sweepStep steps[9],
                                 uint16_t* out, int32_t least[9]) {
    __m512i low[9];
    for (int j = 0; j < 9; ++j) low[j] = _mm512_set1_epi32(least[j]);
    __m512i index[5];
    for (int t = 0; t < 5; ++t) index[t] = _mm512_load_si512(kPlan.index[t]);
    for (int32_t i = 0; i < n; i += 16) {
        const int32_t rows = n - i < 16 ? n - i : 16;
        const auto valid = static_cast<__mmask16>(rows == 16 ? 0xffffu : (1u << rows) - 1u);
        __m256i word[9];
        // Unrolled, so the nine runs' costs and least costs stay in registers.
#pragma GCC unroll 9
        for (int j = 0; j < 9; ++j) {
            const __m512i cost = priceSixteen(runs.tail[j], runs.head[j], i, valid, steps[j]);
            low[j] = _mm512_mask_min_epi32(low[j], valid, low[j], cost);
            word[j] = _mm512_cvtepi32_epi16(cost);
        }
        const __m512i pair0 = _mm512_inserti64x4(_mm512_castsi256_si512(word[0]), word[1], 1);
        const __m512i pair1 = _mm512_inserti64x4(_mm512_castsi256_si512(word[2]), word[3], 1);
        const __m512i pair2 = _mm512_inserti64x4(_mm512_castsi256_si512(word[4]), word[5], 1);
        const __m512i pair3 = _mm512_inserti64x4(_mm512_castsi256_si512(word[6]), word[7], 1);
        const __m512i last = _mm512_castsi256_si512(word[8]);
        uint16_t* o = out + 9 * static_cast<size_t>(i);
        const int32_t words = 9 * rows;
        for (int t = 0; t < 5; ++t) {
            const int32_t left = words - 32 * t;
            if (left <= 0) break;
            const __m512i lower = _mm512_permutex2var_epi16(pair0, index[t], pair1);
            const __m512i upper = _mm512_permutex2var_epi16(pair2, index[t], pair3);
            __m512i v = _mm512_mask_blend_epi16(kPlan.fromUpperPairs[t], lower, upper);
            v = _mm512_mask_blend_epi16(kPlan.fromLast[t], v,
                                        _mm512_permutexvar_epi16(index[t], last));
            if (left >= 32) {
                _mm512_storeu_si512(o + 32 * t, v);
            } else {
                _mm512_mask_storeu_epi16(o + 32 * t, static_cast<__mmask32>((1u << left) - 1u), v);
            }
        }
    }
    for (int j = 0; j < 9; ++j) least[j] = _mm512_reduce_min_epi32(low[j]);
}

// Eight pixels at a time in double precision, each pixel's components widened once for all
// the steps; the same operations as projectRun.
RT_AVX512 void projectColumnAvx512(const float* g, const float* b, int32_t n,
                                   const sweepStep* steps, int count, float* const* out) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    for (int32_t i = 0; i < n; i += 8) {
        const auto valid = static_cast<__mmask8>(n - i >= 8 ? 0xffu : (1u << (n - i)) - 1u);
        const __m512d gd = _mm512_cvtps_pd(_mm256_maskz_loadu_ps(valid, g + i));
        const __m512d bd = _mm512_cvtps_pd(_mm256_maskz_loadu_ps(valid, b + i));
        for (int s = 0; s < count; ++s) {
            const __m512d p = _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(steps[s].ax), gd),
                                            _mm512_mul_pd(_mm512_set1_pd(steps[s].ay), bd));
            _mm256_mask_storeu_ps(out[s] + i, valid, _mm256_and_ps(_mm512_cvtpd_ps(p), magnitude));
        }
    }
}

}  // namespace ringtrace

#endif
