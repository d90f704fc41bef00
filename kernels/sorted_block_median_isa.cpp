// The block-sorting median (see sorted_block_median.h) for one instruction
// set. Nothing from the standard library is instantiated here: this file is
// built with instructions that baseline code must never reach through a
// shared inline function.

#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "isa_kernels.h"
#include "sorted_block_median.h"

namespace mediankernels::MK_ISA_NS {

namespace {

// Unsigned keys in the median order, and back.
template <typename T>
struct SortKey;
template <>
struct SortKey<uint8_t> {
    static constexpr int kBytes = 1;
    static uint32_t key(uint8_t v) { return v; }
    static uint8_t value(uint32_t k) { return static_cast<uint8_t>(k); }
};
template <>
struct SortKey<uint16_t> {
    static constexpr int kBytes = 2;
    static uint32_t key(uint16_t v) { return v; }
    static uint16_t value(uint32_t k) { return static_cast<uint16_t>(k); }
};
template <>
struct SortKey<int16_t> {
    static constexpr int kBytes = 2;
    static uint32_t key(int16_t v) { return static_cast<uint16_t>(v) ^ 0x8000u; }
    static int16_t value(uint32_t k) { return static_cast<int16_t>(k ^ 0x8000u); }
};
template <>
struct SortKey<float> {
    static constexpr int kBytes = 4;
    // Every NaN becomes the canonical quiet NaN, above +inf; -0 sorts below +0.
    static uint32_t key(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        if ((bits & 0x7FFFFFFFu) > 0x7F800000u) bits = 0x7FC00000u;
        return bits & 0x80000000u ? ~bits : bits | 0x80000000u;
    }
    static float value(uint32_t k) {
        const uint32_t bits = k & 0x80000000u ? k & 0x7FFFFFFFu : ~k;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

constexpr int lesser(int a, int b) { return a < b ? a : b; }
constexpr int greater(int a, int b) { return a < b ? b : a; }

// Position of set bit number `n` (from 0) of `word`, which has more than n.
inline int selectBit(uint64_t word, uint32_t n) {
#if defined(__BMI2__)
    return __builtin_ctzll(_pdep_u64(uint64_t{1} << n, word));
#else
    for (; n > 0; --n) word &= word - 1;
    return __builtin_ctzll(word);
#endif
}

// How many of the `count` ranks at `p` lie below `m`. Reads whole vectors:
// the rank buffer has kRankPadding elements after its end.
inline uint32_t countBelow(const uint16_t* p, int count, uint32_t m) {
    uint32_t n = 0;
#if defined(__AVX512BW__)
    const __m512i limit = _mm512_set1_epi16(static_cast<short>(m));
    for (; count > 0; count -= 32, p += 32) {
        const uint64_t lanes = count >= 32 ? 0xFFFFFFFFu : (uint64_t{1} << count) - 1;
        const __m512i r = _mm512_loadu_si512(p);
        n += static_cast<uint32_t>(__builtin_popcountll(_mm512_cmplt_epu16_mask(r, limit) & lanes));
    }
#elif defined(__AVX2__)
    // Signed compares after moving both sides by 0x8000; two mask bits a lane.
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i limit = _mm256_set1_epi16(static_cast<short>(m ^ 0x8000));
    for (; count > 0; count -= 16, p += 16) {
        const uint64_t lanes = count >= 16 ? 0xFFFFFFFFu : (uint64_t{1} << (2 * count)) - 1;
        const __m256i r = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), bias);
        const auto below = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi16(limit, r)));
        n += static_cast<uint32_t>(__builtin_popcountll(below & lanes)) / 2;
    }
#elif defined(__SSE2__)
    const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i limit = _mm_set1_epi16(static_cast<short>(m ^ 0x8000));
    for (; count > 0; count -= 8, p += 8) {
        const uint32_t lanes = count >= 8 ? 0xFFFFu : (1u << (2 * count)) - 1;
        const __m128i r = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bias);
        const auto below = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi16(limit, r)));
        n += static_cast<uint32_t>(__builtin_popcount(below & lanes)) / 2;
    }
#else
    for (int e = 0; e < count; ++e) n += p[e] < m;
#endif
    return n;
}

// The job in slide coordinates: u runs along the slide, v across it, and a
// step along u changes one line of maskV elements.
struct Plane {
    int outU, outV, maskU, maskV;
    std::ptrdiff_t srcU, srcV, dstU, dstV;  // bytes per step
};

Plane planeFor(const MedianJob& job, std::ptrdiff_t size) {
    if (job.maskHeight <= job.maskWidth) {
        return {job.width, job.height, job.maskWidth, job.maskHeight,
                size,      job.srcStep, size,         job.dstStep};
    }
    return {job.height, job.width, job.maskHeight, job.maskWidth,
            job.srcStep, size,     job.dstStep,    size};
}

// Stable LSD radix sort of the items on their key bytes (bits 16 and up),
// skipping bytes all keys share. Returns the buffer holding the result.
template <int KeyBytes>
uint64_t* sortItems(uint64_t* items, uint64_t* spare, int n) {
    uint32_t counts[KeyBytes][256];
    std::memset(counts, 0, sizeof counts);
    for (int i = 0; i < n; ++i) {
        const uint64_t item = items[i];
        for (int d = 0; d < KeyBytes; ++d) ++counts[d][(item >> (16 + 8 * d)) & 255];
    }
    for (int d = 0; d < KeyBytes; ++d) {
        const int shift = 16 + 8 * d;
        if (counts[d][(items[0] >> shift) & 255] == static_cast<uint32_t>(n)) continue;
        uint32_t start = 0;
        for (uint32_t& c : counts[d]) {
            const uint32_t next = start + c;
            c = start;
            start = next;
        }
        for (int i = 0; i < n; ++i) {
            const uint64_t item = items[i];
            spare[counts[d][(item >> shift) & 255]++] = item;
        }
        uint64_t* sorted = spare;
        spare = items;
        items = sorted;
    }
    return items;
}

// The ranks in the window as a bit set, and its median: the set bit `median`
// with `below` set bits under it.
class RankSet {
  public:
    explicit RankSet(uint64_t* bits) : bits_(bits) {}

    void add(const uint16_t* in, int count, std::ptrdiff_t stride) {
        for (int e = 0; e < count; ++e) {
            const uint32_t r = in[e * stride];
            flip(r);
            below_ += r < median_;
        }
    }
    // Takes out the `count` elements at `out` and puts in those at `in`.
    void replaceLine(const uint16_t* out, const uint16_t* in, int count) {
        for (int e = 0; e < count; ++e) {
            flip(out[e]);
            flip(in[e]);
        }
        below_ += countBelow(in, count, median_) - countBelow(out, count, median_);
    }
    // The same for elements `stride` apart.
    void replace(const uint16_t* out, const uint16_t* in, int count, std::ptrdiff_t stride) {
        int32_t delta = 0;
        for (int e = 0; e < count; ++e) {
            const uint32_t o = out[e * stride], i = in[e * stride];
            flip(o);
            flip(i);
            delta += static_cast<int32_t>(i < median_) - static_cast<int32_t>(o < median_);
        }
        below_ += static_cast<uint32_t>(delta);
    }

    // Moves to the set bit with exactly `target` set bits below it. The
    // median rarely moves far, so the words around the last one are counted
    // without a branch that depends on the data; only a longer move walks.
    uint32_t settle(uint32_t target) {
        const uint32_t w = median_ >> 6;
        const uint64_t* near = bits_ + w - kNearBefore;
        uint32_t start = below_ - popcount(near[kNearBefore] & ((uint64_t{1} << (median_ & 63)) - 1));
#pragma GCC unroll 16
        for (int i = 0; i < kNearBefore; ++i) start -= popcount(near[i]);
        // The word holding rank `target` is the last one whose count of set
        // bits before it stays within the target; conditional moves pick it.
        uint32_t before = start, end = start + popcount(near[0]), j = 0;
        uint64_t word = near[0];
#pragma GCC unroll 16
        for (int i = 1; i < kNearWords; ++i) {
            const bool past = end <= target;
            before = past ? end : before;
            word = past ? near[i] : word;
            j = past ? i : j;
            end += popcount(near[i]);
        }
        if (start <= target && target < end) {
            median_ = (w - kNearBefore + j) * 64 + static_cast<uint32_t>(selectBit(word, target - before));
        } else {
            median_ = walk(target);
        }
        below_ = target;
        return median_;
    }

  private:
    static constexpr int kNearBefore = 3, kNearWords = 8;
    static_assert(kNearBefore <= kBitPadding && kNearWords - kNearBefore <= kBitPadding);

    static uint32_t popcount(uint64_t word) { return static_cast<uint32_t>(__builtin_popcountll(word)); }

    // The same by walking a word at a time from the last median.
    uint32_t walk(uint32_t target) const {
        uint32_t w = median_ >> 6;
        uint32_t c = below_;
        uint64_t word;
        if (c <= target) {
            word = bits_[w] & (~uint64_t{0} << (median_ & 63));
            for (;;) {
                const uint32_t n = popcount(word);
                if (c + n > target) break;
                c += n;
                word = bits_[++w];
            }
        } else {
            word = bits_[w] & ((uint64_t{1} << (median_ & 63)) - 1);
            for (;;) {
                c -= popcount(word);
                if (c <= target) break;
                word = bits_[--w];
            }
        }
        return w * 64 + static_cast<uint32_t>(selectBit(word, target - c));
    }

    void flip(uint32_t r) { bits_[r >> 6] ^= uint64_t{1} << (r & 63); }

    uint64_t* bits_;
    uint32_t median_ = 0;
    uint32_t below_ = 0;
};

// A window walking the lines of a block from `firstLine` on in a snake:
// along u on even lines, back on odd ones, one step across between.
class Snake {
  public:
    Snake(uint64_t* bits, const uint16_t* rank, int rv, int maskU, int maskV, int firstLine)
        : set_(bits), rank_(rank), rv_(rv), maskU_(maskU), maskV_(maskV), v_(firstLine) {
        for (int u = 0; u < maskU_; ++u) set_.add(rank_ + u * rv_ + v_, maskV_, 1);
    }

    void step() {
        if (forward_) {
            set_.replaceLine(line(u_), line(u_ + maskU_), maskV_);
            ++u_;
        } else {
            set_.replaceLine(line(u_ + maskU_ - 1), line(u_ - 1), maskV_);
            --u_;
        }
    }
    void nextLine() {
        set_.replace(line(u_), line(u_) + maskV_, maskU_, rv_);
        ++v_;
        forward_ = !forward_;
    }
    uint32_t settle(uint32_t target) { return set_.settle(target); }
    int u() const { return u_; }
    int v() const { return v_; }

  private:
    // The window's elements in source line u, from the current v.
    const uint16_t* line(int u) const { return rank_ + u * rv_ + v_; }

    RankSet set_;
    const uint16_t* rank_;
    int rv_, maskU_, maskV_;
    int u_ = 0, v_;
    bool forward_ = true;
};

// One block: `bu` x `bv` outputs whose region starts at `src`.
template <typename T>
void medianOfBlock(const Plane& p, const unsigned char* src, unsigned char* dst, int bu, int bv,
                   const SortedBlockBuffers& b) {
    using Key = SortKey<T>;
    const int ru = bu + p.maskU - 1, rv = bv + p.maskV - 1, n = ru * rv;

    // Items: key above a 16-bit position, the position u-major so that a
    // line of the slide is contiguous.
    const auto item = [&](int u, int v) {
        T value;
        std::memcpy(&value, src + u * p.srcU + v * p.srcV, sizeof(T));
        b.items[u * rv + v] = (uint64_t{Key::key(value)} << 16) | static_cast<uint32_t>(u * rv + v);
    };
    if (p.srcU <= p.srcV) {
        for (int v = 0; v < rv; ++v) {
            for (int u = 0; u < ru; ++u) item(u, v);
        }
    } else {
        for (int u = 0; u < ru; ++u) {
            for (int v = 0; v < rv; ++v) item(u, v);
        }
    }
    const uint64_t* sorted = sortItems<Key::kBytes>(b.items, b.spare, n);
    for (int r = 0; r < n; ++r) {
        b.rankAt[sorted[r] & 0xFFFF] = static_cast<uint16_t>(r);
        b.keyOfRank[r] = static_cast<uint32_t>(sorted[r] >> 16);
    }

    std::memset(b.bits, 0, sizeof(uint64_t) * 2 * static_cast<std::size_t>(bitWords(n)));
    const uint32_t target = static_cast<uint32_t>(p.maskU * p.maskV / 2);
    const auto write = [&](const Snake& snake, uint32_t r) {
        const T value = Key::value(b.keyOfRank[r]);
        std::memcpy(dst + snake.u() * p.dstU + snake.v() * p.dstV, &value, sizeof(T));
    };

    // Two windows, one on each half of the lines, walk in step: each median
    // waits on the one before it, and the other window's work fills the wait.
    const int half = (bv + 1) / 2, pairs = bv - half;
    Snake first(b.bits + kBitPadding, b.rankAt, rv, p.maskU, p.maskV, 0);
    Snake second(b.bits + bitWords(n) + kBitPadding, b.rankAt, rv, p.maskU, p.maskV, half);
    for (int line = 0; line < pairs; ++line) {
        if (line > 0) {
            first.nextLine();
            second.nextLine();
        }
        write(first, first.settle(target));
        write(second, second.settle(target));
        for (int s = 1; s < bu; ++s) {
            first.step();
            second.step();
            write(first, first.settle(target));
            write(second, second.settle(target));
        }
    }
    if (pairs < half) {
        if (pairs > 0) first.nextLine();
        write(first, first.settle(target));
        for (int s = 1; s < bu; ++s) {
            first.step();
            write(first, first.settle(target));
        }
    }
}

}  // namespace

template <typename T>
void sortedBlockMedian(const MedianJob& job, const SortedBlockBuffers& buffers,
                       int regionElements) {
    const Plane p = planeFor(job, sizeof(T));
    // Blocks about square, narrower along u only when the mask needs the room.
    int side = 1;
    while (side * side * 4 <= regionElements) side *= 2;
    const int64_t fullU = int64_t{p.outU} + p.maskU - 1, fullV = int64_t{p.outV} + p.maskV - 1;
    int ru = greater(p.maskU, side);
    if (fullU < ru) ru = static_cast<int>(fullU);
    if (ru * p.maskV > regionElements) ru = regionElements / p.maskV;
    int rv = regionElements / ru;
    if (fullV < rv) rv = static_cast<int>(fullV);
    const int tu = ru - p.maskU + 1, tv = rv - p.maskV + 1;
    for (int v0 = 0; v0 < p.outV; v0 += tv) {
        for (int u0 = 0; u0 < p.outU; u0 += tu) {
            medianOfBlock<T>(p, job.origin + u0 * p.srcU + v0 * p.srcV,
                             job.dst + u0 * p.dstU + v0 * p.dstV, lesser(tu, p.outU - u0),
                             lesser(tv, p.outV - v0), buffers);
        }
    }
}

template void sortedBlockMedian<uint8_t>(const MedianJob&, const SortedBlockBuffers&, int);
template void sortedBlockMedian<uint16_t>(const MedianJob&, const SortedBlockBuffers&, int);
template void sortedBlockMedian<int16_t>(const MedianJob&, const SortedBlockBuffers&, int);
template void sortedBlockMedian<float>(const MedianJob&, const SortedBlockBuffers&, int);

}  // namespace mediankernels::MK_ISA_NS
