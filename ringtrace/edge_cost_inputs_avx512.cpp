// The group preparer for AVX-512: sixteen raster rows of the group's sixteen columns are
// read as sixteen vectors, turned into column vectors (a 16 x 16 transposition of the raw
// words of each image) and only then split into their inputs, so every store is a whole
// vector of one column. The unit orientations are worked out here rather than looked up:
// two gathers from the table of every pair cost more than a root and two divisions.
#include "edge_cost_inputs.h"

#if defined(__x86_64__) && !defined(RT_SCALAR_ONLY)

#include "x86_vectors.h"

#include "image_input.h"

namespace ringtrace {

#define RT_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))

namespace {

// r[i] holds element j of row i in lane j; afterwards r[j] holds element j of every row.
RT_AVX512 inline void transpose16(__m512i r[16]) {
    __m512i t[16], u[16];
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
    }
    // u[4 i + c], lane l: element 4 l + c of rows 4 i .. 4 i + 3.
    for (int i = 0; i < 4; ++i) {
        u[4 * i] = _mm512_unpacklo_epi64(t[4 * i], t[4 * i + 2]);
        u[4 * i + 1] = _mm512_unpackhi_epi64(t[4 * i], t[4 * i + 2]);
        u[4 * i + 2] = _mm512_unpacklo_epi64(t[4 * i + 1], t[4 * i + 3]);
        u[4 * i + 3] = _mm512_unpackhi_epi64(t[4 * i + 1], t[4 * i + 3]);
    }
    for (int c = 0; c < 4; ++c) {
        const __m512i evenLow = _mm512_shuffle_i32x4(u[c], u[4 + c], _MM_SHUFFLE(2, 0, 2, 0));
        const __m512i oddLow = _mm512_shuffle_i32x4(u[c], u[4 + c], _MM_SHUFFLE(3, 1, 3, 1));
        const __m512i evenHigh = _mm512_shuffle_i32x4(u[8 + c], u[12 + c], _MM_SHUFFLE(2, 0, 2, 0));
        const __m512i oddHigh = _mm512_shuffle_i32x4(u[8 + c], u[12 + c], _MM_SHUFFLE(3, 1, 3, 1));
        r[c] = _mm512_shuffle_i32x4(evenLow, evenHigh, _MM_SHUFFLE(2, 0, 2, 0));
        r[8 + c] = _mm512_shuffle_i32x4(evenLow, evenHigh, _MM_SHUFFLE(3, 1, 3, 1));
        r[4 + c] = _mm512_shuffle_i32x4(oddLow, oddHigh, _MM_SHUFFLE(2, 0, 2, 0));
        r[12 + c] = _mm512_shuffle_i32x4(oddLow, oddHigh, _MM_SHUFFLE(3, 1, 3, 1));
    }
}

RT_AVX512 int32_t prepareGroupAvx512(const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                                     int32_t W, int32_t H, int32_t g0, const groupInputs& out) {
    const int32_t rows = H / 16 * 16;
    const auto width = static_cast<size_t>(W);
    for (int32_t y0 = 0; y0 < rows; y0 += 16) {
        __m512i p[16], s[16];
        for (int i = 0; i < 16; ++i) {
            const size_t r = static_cast<size_t>(rasterIndex(g0, y0 + i, W, H));
            p[i] = _mm512_loadu_si512(primaryRaster + r);
            s[i] = _mm512_loadu_si512(secondaryRaster + r);
            // The rows of the next block: too far apart for the processor to guess.
            if (y0 + 16 + i < H) {
                _mm_prefetch(reinterpret_cast<const char*>(primaryRaster + r - 16 * width),
                             _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(secondaryRaster + r - 16 * width),
                             _MM_HINT_T0);
            }
        }
        transpose16(p);
        transpose16(s);
        const auto y = static_cast<size_t>(y0);
        for (size_t k = 0; k < 16; ++k) {
            int32_t* red = out.red0 + k * out.intColumnStep + y;
            float* green = out.green0 + k * out.realColumnStep + y;
            _mm512_storeu_si512(red, _mm512_srai_epi32(_mm512_slli_epi32(p[k], 24), 24));
            _mm512_storeu_si512(red + out.intStride,
                                _mm512_srai_epi32(_mm512_slli_epi32(s[k], 24), 24));
            // The components as signed bytes less 64, and the vector's length: the squares
            // and their sum are exact, and rounding the root or a quotient to double and then
            // to single gives the single-precision result itself (53 >= 2 * 24 + 2 bits).
            const __m512 g = _mm512_cvtepi32_ps(_mm512_sub_epi32(
                _mm512_srai_epi32(_mm512_slli_epi32(p[k], 16), 24), _mm512_set1_epi32(64)));
            const __m512 b = _mm512_cvtepi32_ps(_mm512_sub_epi32(
                _mm512_srai_epi32(_mm512_slli_epi32(p[k], 8), 24), _mm512_set1_epi32(64)));
            const __m512 length =
                _mm512_sqrt_ps(_mm512_add_ps(_mm512_mul_ps(g, g), _mm512_mul_ps(b, b)));
            _mm512_storeu_ps(green, _mm512_div_ps(g, length));
            _mm512_storeu_ps(green + out.realStride, _mm512_div_ps(b, length));
        }
    }
    return rows;
}

}  // namespace

groupPreparer vectorGroupPreparer() {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        return prepareGroupAvx512;
    return nullptr;
}

}  // namespace ringtrace

#else

namespace ringtrace {
groupPreparer vectorGroupPreparer() { return nullptr; }
}  // namespace ringtrace

#endif
