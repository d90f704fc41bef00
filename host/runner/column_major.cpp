#include "column_major.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace hvhost {
namespace {

// Bytes of each array column that one band covers: long enough that the array is touched
// in whole cache lines and its columns' stretches are streamed, short enough that a band of
// a wide image (16 384 columns: 4 MiB) stays near the cache.
constexpr std::size_t kStretchBytes = 256;

template <std::size_t E>
inline void copyElement(const unsigned char* from, unsigned char* to) {
    std::memcpy(to, from, E);
}

#if defined(__SSE2__) || (defined(__aarch64__) && defined(__ARM_NEON))

// One 16-byte register and the interleave of the low or high halves of two of them in units
// of W bytes (a0 b0 a1 b1 ...), the one step the tile transposition is made of.
#if defined(__SSE2__)
using Vec = __m128i;
inline Vec load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(unsigned char* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
template <std::size_t W>
inline Vec zipLow(Vec a, Vec b) {
    if constexpr (W == 1) return _mm_unpacklo_epi8(a, b);
    if constexpr (W == 2) return _mm_unpacklo_epi16(a, b);
    if constexpr (W == 4) return _mm_unpacklo_epi32(a, b);
    if constexpr (W == 8) return _mm_unpacklo_epi64(a, b);
}
template <std::size_t W>
inline Vec zipHigh(Vec a, Vec b) {
    if constexpr (W == 1) return _mm_unpackhi_epi8(a, b);
    if constexpr (W == 2) return _mm_unpackhi_epi16(a, b);
    if constexpr (W == 4) return _mm_unpackhi_epi32(a, b);
    if constexpr (W == 8) return _mm_unpackhi_epi64(a, b);
}
#else
using Vec = uint8x16_t;
inline Vec load(const unsigned char* p) { return vld1q_u8(p); }
inline void store(unsigned char* p, Vec v) { vst1q_u8(p, v); }
template <std::size_t W>
inline Vec zipLow(Vec a, Vec b) {
    if constexpr (W == 1) return vzip1q_u8(a, b);
    if constexpr (W == 2) {
        return vreinterpretq_u8_u16(vzip1q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
    }
    if constexpr (W == 4) {
        return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
    }
    if constexpr (W == 8) {
        return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
}
template <std::size_t W>
inline Vec zipHigh(Vec a, Vec b) {
    if constexpr (W == 1) return vzip2q_u8(a, b);
    if constexpr (W == 2) {
        return vreinterpretq_u8_u16(vzip2q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
    }
    if constexpr (W == 4) {
        return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
    }
    if constexpr (W == 8) {
        return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
}
#endif

// log2(N) rounds of interleaving rows D apart, the unit doubling each round, transpose an
// N x N tile of W-byte elements held in N registers, rows staying in order.
template <std::size_t W, std::size_t D, std::size_t N>
inline void interleaveRounds(Vec (&x)[N]) {
    if constexpr (D < N) {
        Vec y[N];
#pragma GCC unroll 16
        for (std::size_t g = 0; g < N; g += 2 * D) {
#pragma GCC unroll 16
            for (std::size_t k = 0; k < D; ++k) {
                y[g + 2 * k] = zipLow<W>(x[g + k], x[g + k + D]);
                y[g + 2 * k + 1] = zipHigh<W>(x[g + k], x[g + k + D]);
            }
        }
#pragma GCC unroll 16
        for (std::size_t i = 0; i < N; ++i) x[i] = y[i];
        interleaveRounds<W * 2, D * 2>(x);
    }
}

// Row k of the destination tile receives element k of every source row.
template <std::size_t E>
inline void transposeTile(const unsigned char* src, std::size_t srcStride, unsigned char* dst,
                          std::size_t dstStride) {
    constexpr std::size_t N = 16 / E;
    Vec x[N];
#pragma GCC unroll 16
    for (std::size_t r = 0; r < N; ++r) x[r] = load(src + r * srcStride);
    interleaveRounds<E, 1>(x);
#pragma GCC unroll 16
    for (std::size_t k = 0; k < N; ++k) store(dst + k * dstStride, x[k]);
}

#else

template <std::size_t E>
inline void transposeTile(const unsigned char* src, std::size_t srcStride, unsigned char* dst,
                          std::size_t dstStride) {
    constexpr std::size_t N = 16 / E;
    for (std::size_t k = 0; k < N; ++k) {
        for (std::size_t r = 0; r < N; ++r) {
            copyElement<E>(src + r * srcStride + k * E, dst + k * dstStride + r * E);
        }
    }
}

#endif

// Both directions walk the same way: array columns in groups of one tile's width, and within
// a group the band's rows from first to last, so each column's stretch is touched in order.
// `toColumns` says which side the tiles are read from.
template <std::size_t E, bool toColumns>
void convert(const unsigned char* from, const BandLayout& layout, unsigned char* to) {
    constexpr std::size_t N = 16 / E;
    const std::size_t columnBytes = layout.height * E;
    const std::size_t rowBytes = layout.rowBytes;
    const std::size_t fullColumns = layout.columns - layout.columns % N;
    const std::size_t fullRows = layout.rows - layout.rows % N;
    const unsigned char* band = toColumns ? from : to;
    unsigned char* const bandOut = toColumns ? nullptr : to;
    unsigned char* const arrayOut = toColumns ? to + layout.firstRow * E : nullptr;
    const unsigned char* arrayIn = toColumns ? nullptr : from + layout.firstRow * E;

    auto one = [&](std::size_t i, std::size_t j) {
        if constexpr (toColumns) {
            copyElement<E>(band + i * rowBytes + j * E, arrayOut + j * columnBytes + i * E);
        } else {
            copyElement<E>(arrayIn + j * columnBytes + i * E, bandOut + i * rowBytes + j * E);
        }
    };
    for (std::size_t j0 = 0; j0 < fullColumns; j0 += N) {
        for (std::size_t i0 = 0; i0 < fullRows; i0 += N) {
            if constexpr (toColumns) {
                transposeTile<E>(band + i0 * rowBytes + j0 * E, rowBytes,
                                 arrayOut + j0 * columnBytes + i0 * E, columnBytes);
            } else {
                transposeTile<E>(arrayIn + j0 * columnBytes + i0 * E, columnBytes,
                                 bandOut + i0 * rowBytes + j0 * E, rowBytes);
            }
        }
        for (std::size_t j = j0; j < j0 + N; ++j) {
            for (std::size_t i = fullRows; i < layout.rows; ++i) one(i, j);
        }
    }
    for (std::size_t j = fullColumns; j < layout.columns; ++j) {
        for (std::size_t i = 0; i < layout.rows; ++i) one(i, j);
    }
}

}  // namespace

std::size_t bandRowsFor(std::size_t size) {
    if (size == 0 || size > kStretchBytes) return 1;
    return kStretchBytes / size;
}

void bandToColumns(const unsigned char* band, const BandLayout& layout, unsigned char* array) {
    switch (layout.size) {
        case 1:
            return convert<1, true>(band, layout, array);
        case 2:
            return convert<2, true>(band, layout, array);
        case 4:
            return convert<4, true>(band, layout, array);
        case 8:
            return convert<8, true>(band, layout, array);
        default:
            return bandToColumnsPlain(band, layout, array);
    }
}

void columnsToBand(const unsigned char* array, const BandLayout& layout, unsigned char* band) {
    switch (layout.size) {
        case 1:
            return convert<1, false>(array, layout, band);
        case 2:
            return convert<2, false>(array, layout, band);
        case 4:
            return convert<4, false>(array, layout, band);
        case 8:
            return convert<8, false>(array, layout, band);
        default:
            return columnsToBandPlain(array, layout, band);
    }
}

void bandToColumnsPlain(const unsigned char* band, const BandLayout& layout, unsigned char* array) {
    for (std::size_t i = 0; i < layout.rows; ++i) {
        for (std::size_t j = 0; j < layout.columns; ++j) {
            std::memcpy(array + (layout.firstRow + i + j * layout.height) * layout.size,
                        band + i * layout.rowBytes + j * layout.size, layout.size);
        }
    }
}

void columnsToBandPlain(const unsigned char* array, const BandLayout& layout, unsigned char* band) {
    for (std::size_t i = 0; i < layout.rows; ++i) {
        for (std::size_t j = 0; j < layout.columns; ++j) {
            std::memcpy(band + i * layout.rowBytes + j * layout.size,
                        array + (layout.firstRow + i + j * layout.height) * layout.size,
                        layout.size);
        }
    }
}

}  // namespace hvhost
