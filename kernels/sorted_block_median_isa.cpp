// The block-sorting median (see sorted_block_median.h) for one instruction
// set. Nothing from the standard library is instantiated here: this file is
// built with instructions that baseline code must never reach through a
// shared inline function.

#include <cstring>

// The intrinsics headers for this set come with the histogram window.
#include "column_histogram_window.h"
#include "isa_kernels.h"
#include "ordered_key.h"
#include "sorted_block_median.h"

namespace mediankernels::MK_ISA_NS {

namespace {

// Unsigned keys in the median order, and back, with their size in bytes.
template <typename T>
struct SortKey : OrderedKey<T> {
    static constexpr int kBytes = OrderedKey<T>::kBits / 8;
};

// Position of set bit number `n` (from 0) of `word`, which has more than n.
inline int selectBit(uint64_t word, uint32_t n) {
#if defined(__BMI2__)
    return __builtin_ctzll(_pdep_u64(uint64_t{1} << n, word));
#else
    for (; n > 0; --n) word &= word - 1;
    return __builtin_ctzll(word);
#endif
}

// The window's place in its block: positions u0 <= u < u0 + maskU and
// v0 <= v < v0 + maskV, told by unsigned compares of u - u0 and v - v0.
struct Bounds {
    uint16_t u0, v0, maskU, maskV;
};

// Which of the 64 positions at `u`, `v` lie in the window, one bit each.
inline uint64_t inside64(const uint16_t* u, const uint16_t* v, const Bounds& w) {
#if defined(__AVX512BW__)
    const __m512i u0 = _mm512_set1_epi16(static_cast<short>(w.u0));
    const __m512i v0 = _mm512_set1_epi16(static_cast<short>(w.v0));
    const __m512i mu = _mm512_set1_epi16(static_cast<short>(w.maskU));
    const __m512i mv = _mm512_set1_epi16(static_cast<short>(w.maskV));
    uint64_t bits = 0;
    for (int half = 0; half < 2; ++half) {
        const __m512i du = _mm512_sub_epi16(_mm512_loadu_si512(u + 32 * half), u0);
        const __m512i dv = _mm512_sub_epi16(_mm512_loadu_si512(v + 32 * half), v0);
        const __mmask32 in = _mm512_mask_cmplt_epu16_mask(_mm512_cmplt_epu16_mask(du, mu), dv, mv);
        bits |= uint64_t{in} << (32 * half);
    }
    return bits;
#elif defined(__AVX2__)
    // u - u0 <= maskU - 1 unsigned: the saturating difference is 0. Both
    // tests at once: the two differences ORed are 0.
    const __m256i u0 = _mm256_set1_epi16(static_cast<short>(w.u0));
    const __m256i v0 = _mm256_set1_epi16(static_cast<short>(w.v0));
    const __m256i lastU = _mm256_set1_epi16(static_cast<short>(w.maskU - 1));
    const __m256i lastV = _mm256_set1_epi16(static_cast<short>(w.maskV - 1));
    const auto lanes = [&](int at) {
        const __m256i du =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + at)), u0);
        const __m256i dv =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + at)), v0);
        const __m256i beyond =
            _mm256_or_si256(_mm256_subs_epu16(du, lastU), _mm256_subs_epu16(dv, lastV));
        return _mm256_cmpeq_epi16(beyond, _mm256_setzero_si256());
    };
    uint64_t bits = 0;
    for (int half = 0; half < 2; ++half) {
        // Packing interleaves the 128-bit halves; the permute restores lane order.
        const __m256i packed = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(lanes(32 * half), lanes(32 * half + 16)), 0xD8);
        bits |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(packed))} << (32 * half);
    }
    return bits;
#elif defined(__SSE2__)
    // As for AVX2: both saturating differences 0.
    const __m128i u0 = _mm_set1_epi16(static_cast<short>(w.u0));
    const __m128i v0 = _mm_set1_epi16(static_cast<short>(w.v0));
    const __m128i lastU = _mm_set1_epi16(static_cast<short>(w.maskU - 1));
    const __m128i lastV = _mm_set1_epi16(static_cast<short>(w.maskV - 1));
    const auto lanes = [&](int at) {
        const __m128i du =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + at)), u0);
        const __m128i dv =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + at)), v0);
        const __m128i beyond = _mm_or_si128(_mm_subs_epu16(du, lastU), _mm_subs_epu16(dv, lastV));
        return _mm_cmpeq_epi16(beyond, _mm_setzero_si128());
    };
    uint64_t bits = 0;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const __m128i packed = _mm_packs_epi16(lanes(16 * quarter), lanes(16 * quarter + 8));
        bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(packed))} << (16 * quarter);
    }
    return bits;
#else
    uint64_t bits = 0;
    for (int i = 0; i < 64; ++i) {
        const bool in = static_cast<uint16_t>(u[i] - w.u0) < w.maskU &&
                        static_cast<uint16_t>(v[i] - w.v0) < w.maskV;
        bits |= uint64_t{in} << i;
    }
    return bits;
#endif
}

// The radix digits of the sort: 8 bits for 16-bit keys, 11, 11 and 10 bits
// for 32-bit ones. A digit's counts become the first rank of each of its
// values; the last digit's are left for the pass that writes the ranks.
template <int KeyBytes>
struct RadixDigits {
    static constexpr int kDigits = KeyBytes == 4 ? 3 : KeyBytes;
    static constexpr int kWidth = KeyBytes == 4 ? 11 : 8;
    static constexpr uint32_t kMask = (1u << kWidth) - 1;
    static constexpr int kLastShift = 32 + kWidth * (kDigits - 1);
    uint32_t counts[kDigits][1 << kWidth];
};

// How the last radix pass places an item: at starts[(item >> shift) & mask]++.
struct LastDigit {
    uint32_t* starts;
    int shift;
    uint32_t mask;
};

// Stable LSD radix sort of the items on their keys (bits 32 and up) by every
// digit but the last, skipping digits all keys share. Returns the buffer
// holding the result; the last digit's pass is left to the rank write-out,
// which so reads the items once instead of sorting them and reading them again.
template <int KeyBytes>
uint64_t* sortItemsButLast(uint64_t* items, uint64_t* spare, int n, RadixDigits<KeyBytes>& digits) {
    using D = RadixDigits<KeyBytes>;
    std::memset(digits.counts, 0, sizeof digits.counts);
    for (int i = 0; i < n; ++i) {
        const uint64_t item = items[i];
        for (int d = 0; d < D::kDigits; ++d) {
            ++digits.counts[d][(item >> (32 + D::kWidth * d)) & D::kMask];
        }
    }
    for (int d = 0; d < D::kDigits; ++d) {
        const int shift = 32 + D::kWidth * d;
        const bool shared =
            digits.counts[d][(items[0] >> shift) & D::kMask] == static_cast<uint32_t>(n);
        if (shared && d + 1 < D::kDigits) continue;
        uint32_t start = 0;
        for (uint32_t& c : digits.counts[d]) {
            const uint32_t next = start + c;
            c = start;
            start = next;
        }
        if (d + 1 == D::kDigits) break;
        for (int i = 0; i < n; ++i) {
            const uint64_t item = items[i];
            spare[digits.counts[d][(item >> shift) & D::kMask]++] = item;
        }
        uint64_t* sorted = spare;
        spare = items;
        items = sorted;
    }
    return items;
}

// Median keys kept in the sort's spare buffer of 64-bit items.
using SpareKey [[gnu::may_alias]] = uint32_t;

// Items of the block's region: the key above the element's position (u, v).
// Their order before sorting only decides among equal keys, which stand for
// equal values. Read along the element-sized step, a line at a time.
template <typename T>
void regionItems(const SortedBlockPlan& p, const unsigned char* src, int ru, int rv,
                 uint64_t* items) {
    using Key = SortKey<T>;
    const bool uInner = p.srcU <= p.srcV;
    const int lines = uInner ? rv : ru, inner = uInner ? ru : rv;
    const std::ptrdiff_t lineStep = uInner ? p.srcV : p.srcU;
    const int innerShift = uInner ? 16 : 0, lineShift = uInner ? 0 : 16;
    for (int l = 0; l < lines; ++l) {
        const unsigned char* from = src + l * lineStep;
        uint64_t* to = items + static_cast<std::ptrdiff_t>(l) * inner;
        const uint64_t position = uint64_t{static_cast<uint32_t>(l)} << lineShift;
        for (int i = 0; i < inner; ++i) {
            T value;
            std::memcpy(&value, from + i * static_cast<std::ptrdiff_t>(sizeof(T)), sizeof(T));
            to[i] = uint64_t{Key::key(value)} << 32 | uint64_t{static_cast<uint32_t>(i)} << innerShift |
                    position;
        }
    }
}

// The median keys of one block of `bu` x `bv` outputs from its region's
// sorted items, to `keys` (bu * bv, u fastest). The same for every element
// type, so that the column histograms' slide is compiled once per
// instruction set, not once per type.
[[gnu::noinline]] void selectInBlock(const SortedBlockPlan& plan, const uint64_t* items,
                                     LastDigit last, SpareKey* keys, int bu, int bv,
                                     const SortedBlockBuffers& buffers) {
    // Local copies: the byte stores below (bins, histograms) could alias the
    // callers' structures, and the loops would read every field again.
    const SortedBlockPlan p = plan;
    const SortedBlockBuffers b = buffers;
    const int ru = bu + p.maskU - 1, rv = bv + p.maskV - 1, n = ru * rv;
    // The sort's last pass: each item goes straight to its rank's entries.
    for (int i = 0; i < n; ++i) {
        const uint64_t at = items[i];
        const uint32_t r = last.starts[(at >> last.shift) & last.mask]++;
        const auto u = static_cast<uint16_t>(at >> 16), v = static_cast<uint16_t>(at);
        b.positionU[r] = u;
        b.positionV[r] = v;
        b.binAt[v * ru + u] = static_cast<uint8_t>(r >> p.binShift);
        b.keyOfRank[r] = static_cast<uint32_t>(at >> 32);
    }
    // The last bin's group reads past the last rank: no window holds u = 0xFFFF.
    for (int r = n; r < n + kPositionPadding; ++r) b.positionU[r] = b.positionV[r] = 0xFFFF;

    // The bins of the region's lines along the slide are the columns the
    // byte median's histograms slide over.
    const auto target = static_cast<uint32_t>(p.maskU * p.maskV / 2);
    slideColumnHistograms<true>(
        {b.binAt, 1, ru}, bu, bv, p.maskU, p.maskV, target, b.lines,
        [&](int u0, int v0, uint8_t bin, uint32_t below) {
            const Bounds bounds{static_cast<uint16_t>(u0), static_cast<uint16_t>(v0),
                                static_cast<uint16_t>(p.maskU), static_cast<uint16_t>(p.maskV)};
            const uint32_t first = uint32_t{bin} << p.binShift;
            uint32_t need = target - below;
            for (uint32_t group = first;; group += 64) {
                const uint64_t in = inside64(b.positionU + group, b.positionV + group, bounds);
                const auto members = static_cast<uint32_t>(__builtin_popcountll(in));
                if (need < members) {
                    const uint32_t rank = group + static_cast<uint32_t>(selectBit(in, need));
                    keys[v0 * bu + u0] = b.keyOfRank[rank];
                    return;
                }
                need -= members;
            }
        });
}

// One block: `bu` x `bv` outputs whose region starts at `src`.
template <typename T>
void medianOfBlock(const SortedBlockPlan& plan, const unsigned char* src, unsigned char* dst, int bu,
                   int bv, const SortedBlockBuffers& buffers) {
    const int ru = bu + plan.maskU - 1, rv = bv + plan.maskV - 1;
    using Digits = RadixDigits<SortKey<T>::kBytes>;
    regionItems<T>(plan, src, ru, rv, buffers.items);
    Digits digits;
    const uint64_t* items = sortItemsButLast(buffers.items, buffers.spare, ru * rv, digits);
    // The medians' keys go to the sort's other buffer, free by now, and from
    // there out as values: no per-type work inside the slide.
    auto* keys =
        reinterpret_cast<SpareKey*>(items == buffers.items ? buffers.spare : buffers.items);
    selectInBlock(plan, items,
                  {digits.counts[Digits::kDigits - 1], Digits::kLastShift, Digits::kMask}, keys, bu,
                  bv, buffers);
    const std::ptrdiff_t dstU = plan.dstU, dstV = plan.dstV;
    for (int v = 0; v < bv; ++v) {
        for (int u = 0; u < bu; ++u) {
            const T value = SortKey<T>::value(keys[v * bu + u]);
            std::memcpy(dst + u * dstU + v * dstV, &value, sizeof(T));
        }
    }
}

}  // namespace

template <typename T>
void sortedBlockMedian(const MedianJob& job, const SortedBlockPlan& plan,
                       const SortedBlockBuffers& buffers) {
    for (int v0 = 0; v0 < plan.outV; v0 += plan.blockV) {
        for (int u0 = 0; u0 < plan.outU; u0 += plan.blockU) {
            const int bu = plan.outU - u0 < plan.blockU ? plan.outU - u0 : plan.blockU;
            const int bv = plan.outV - v0 < plan.blockV ? plan.outV - v0 : plan.blockV;
            medianOfBlock<T>(plan, job.origin + u0 * plan.srcU + v0 * plan.srcV,
                             job.dst + u0 * plan.dstU + v0 * plan.dstV, bu, bv, buffers);
        }
    }
}

template void sortedBlockMedian<uint8_t>(const MedianJob&, const SortedBlockPlan&,
                                         const SortedBlockBuffers&);
template void sortedBlockMedian<uint16_t>(const MedianJob&, const SortedBlockPlan&,
                                          const SortedBlockBuffers&);
template void sortedBlockMedian<int16_t>(const MedianJob&, const SortedBlockPlan&,
                                         const SortedBlockBuffers&);
template void sortedBlockMedian<float>(const MedianJob&, const SortedBlockPlan&,
                                       const SortedBlockBuffers&);

}  // namespace mediankernels::MK_ISA_NS
