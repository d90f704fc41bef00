#pragma once

// The window of the constant-time histogram medians: the window's histogram
// of 256 bins as the sum of per-column histograms, stepping one column at a
// time.
// Included by the kernel sources compiled once per instruction set, inside
// their namespace; everything here is local to the including file.

#include <cstdint>
#include <cstring>

#if defined(__AVX2__) || defined(__BMI2__)
#include <immintrin.h>
#elif defined(__SSE2__)
// The SSE2 build (and the one-lane set on x86-64, which runs its objects)
// needs only SSE2's header: <immintrin.h> took two thirds of a second to
// parse in every file that included it.
#include <emmintrin.h>
#endif

#include "column_histogram_median.h"

namespace mediankernels::MK_ISA_NS {

namespace {

// A column's counts, kColumnBytes bytes, each count at most kMaxColumnLines:
// byte 16 c + j (c, j < 16) counts the values from 16 c to 16 c + j, so that
// every coarse bin's sixteen fine counts are already summed up to each of
// its bins; byte kCoarse + c counts the values below 16 c (byte kCoarse is
// always 0). A value thus changes one run of sixteen fine counts and the
// sixteen coarse ones: two 16-byte vector additions.
constexpr int kCoarse = 256;

using Bytes16 __attribute__((vector_size(16))) = uint8_t;
// Sixteen 16-bit counts: the window's coarse counts, or one coarse bin's fine ones.
using Sixteen __attribute__((vector_size(32))) = uint16_t;

inline Bytes16 loadBytes(const uint8_t* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void storeBytes(uint8_t* p, Bytes16 v) { std::memcpy(p, &v, sizeof v); }

// What value v adds to a column: kSteps.fine[v] to the sixteen fine counts of
// its coarse bin (lanes v % 16 and above are 1), kSteps.coarse[v] to the
// coarse counts (lanes v / 16 + 1 and above). Indexed by the value itself, so
// that one shift finds both.
struct Steps {
    alignas(16) uint8_t fine[256][16];
    alignas(16) uint8_t coarse[256][16];
};
constexpr Steps makeSteps() {
    Steps s{};
    for (int v = 0; v < 256; ++v) {
        for (int j = 0; j < 16; ++j) {
            s.fine[v][j] = j >= v % 16;
            s.coarse[v][j] = j > v / 16;
        }
    }
    return s;
}
constexpr Steps kSteps = makeSteps();

inline void add(uint8_t* column, uint8_t value) {
    uint8_t* fine = column + (value & 0xF0);
    storeBytes(fine, loadBytes(fine) + loadBytes(kSteps.fine[value]));
    storeBytes(column + kCoarse, loadBytes(column + kCoarse) + loadBytes(kSteps.coarse[value]));
}

// Takes `out` from the column and puts `in` into it.
inline void replace(uint8_t* column, uint8_t out, uint8_t in) {
    uint8_t* fineOut = column + (out & 0xF0);
    storeBytes(fineOut, loadBytes(fineOut) - loadBytes(kSteps.fine[out]));
    uint8_t* fineIn = column + (in & 0xF0);
    storeBytes(fineIn, loadBytes(fineIn) + loadBytes(kSteps.fine[in]));
    storeBytes(column + kCoarse, loadBytes(column + kCoarse) + loadBytes(kSteps.coarse[in]) -
                                     loadBytes(kSteps.coarse[out]));
}

// How many lanes of `v` are at or below `limit`, unsigned. No branch depends
// on the data.
inline int countAtOrBelow(Sixteen v, uint32_t limit) {
#if defined(__AVX2__)
    const __m256i bound = _mm256_set1_epi16(static_cast<short>(limit));
    __m256i x;
    std::memcpy(&x, &v, sizeof x);
    const __m256i within = _mm256_cmpeq_epi16(_mm256_max_epu16(x, bound), bound);
    return __builtin_popcount(static_cast<uint32_t>(_mm256_movemask_epi8(within))) / 2;
#elif defined(__SSE2__)
    // Unsigned <= by signed compares after moving both sides by 0x8000.
    __m128i halves[2];
    std::memcpy(halves, &v, sizeof halves);
    const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i bound = _mm_set1_epi16(static_cast<short>(limit ^ 0x8000));
    const auto above = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_xor_si128(halves[0], bias), bound)) |
        _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_xor_si128(halves[1], bias), bound)) << 16);
    return 16 - __builtin_popcount(above) / 2;
#else
    uint16_t lanes[16];
    std::memcpy(lanes, &v, sizeof lanes);
    int count = 0;
    for (uint16_t x : lanes) count += x <= limit;
    return count;
#endif
}

inline uint16_t lane(Sixteen v, int i) {
    uint16_t lanes[16];
    std::memcpy(lanes, &v, sizeof lanes);
    return lanes[i];
}

// The window's histogram: its coarse counts follow every step, and so do the
// fine counts of two neighbouring coarse bins, the "active" ones, chosen
// where the median last was. While the median stays among them, its bin is
// the number of the active bins' 32 cumulative counts at or below the
// target rank, found by one vector compare. When it leaves, the coarse
// counts tell the new coarse bin, the active bins move to it and their fine
// counts are summed anew from the window's columns. A step costs two vector
// additions and two subtractions (of widened column counts), and no branch
// that depends on the data is taken while the median stays.
class Window {
  public:
    Window(const uint8_t* columns, int maskWidth, uint32_t target)
        : columns_(columns), maskWidth_(maskWidth), target_(target) {
#if defined(__AVX512BW__)
        targets_ = _mm512_set1_epi16(static_cast<short>(target));
#elif defined(__AVX2__)
        targets_ = _mm256_set1_epi16(static_cast<short>(target));
#endif
        setFirst(7);
    }

    // Places the window on columns 0 .. maskWidth - 1, keeping the active bins.
    void start() {
        at_ = 0;
        coarse_ = Counts{};
        for (int x = 0; x < maskWidth_; ++x) coarse_ = plus(coarse_, widen16(column(x) + kCoarse));
        sumActive();
    }
    void step() {
        const uint8_t* in = column(at_ + maskWidth_);
        const uint8_t* out = column(at_);
        coarse_ = minus(plus(coarse_, widen16(in + kCoarse)), widen16(out + kCoarse));
#if defined(__AVX512BW__)
        pair_ = _mm512_sub_epi16(_mm512_add_epi16(pair_, widen32(in + offset_)), widen32(out + offset_));
#else
        low_ = minus(plus(low_, widen16(in + offset_)), widen16(out + offset_));
        high_ = minus(plus(high_, widen16(in + offset_ + 16)), widen16(out + offset_ + 16));
#endif
        ++at_;
    }

    // The bin holding the element of rank `target` in the window.
    uint8_t median() {
        int f = finePosition();
        // 0 may still lie in the active bins, 32 never does.
        if (static_cast<unsigned>(f - 1) >= 31u) f = relocate(f);
        return static_cast<uint8_t>(offset_ + f);
    }
    // The same; `below` receives how many of the window's elements lie in bins before it.
    uint8_t median(uint32_t& below) {
        const uint8_t m = median();
        below = countBefore(m - offset_);
        return m;
    }

  private:
#if defined(__AVX512BW__) || defined(__AVX2__)
    using Counts = __m256i;
    static Counts plus(Counts a, Counts b) { return _mm256_add_epi16(a, b); }
    static Counts minus(Counts a, Counts b) { return _mm256_sub_epi16(a, b); }
    static Counts widen16(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static Sixteen generic(Counts v) {
        Sixteen s;
        std::memcpy(&s, &v, sizeof s);
        return s;
    }
#else
    using Counts = Sixteen;
    static Counts plus(Counts a, Counts b) { return a + b; }
    static Counts minus(Counts a, Counts b) { return a - b; }
    static Counts widen16(const uint8_t* p) {
        return __builtin_convertvector(loadBytes(p), Sixteen);
    }
    static Sixteen generic(Counts v) { return v; }
#endif
#if defined(__AVX512BW__)
    static __m512i widen32(const uint8_t* p) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
#endif

    const uint8_t* column(int x) const {
        return columns_ + static_cast<std::ptrdiff_t>(x) * kColumnBytes;
    }

    // How many of the active bins' cumulative counts (lanes 0 .. 31) are at
    // or below the target.
    int finePosition() const {
#if defined(__AVX512BW__)
        const __m512i base = _mm512_permutexvar_epi16(baseIndex_, _mm512_castsi256_si512(coarse_));
        return __builtin_popcount(
            _mm512_cmple_epu16_mask(_mm512_add_epi16(pair_, base), targets_));
#elif defined(__AVX2__)
        const __m256i lowBase =
            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(coarse_, lowDword_), lowBytes_);
        const __m256i highBase =
            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(coarse_, highDword_), highBytes_);
        const auto atOrBelow = [&](__m256i counts) {
            return _mm256_cmpeq_epi16(_mm256_max_epu16(counts, targets_), targets_);
        };
        const __m256i both = _mm256_packs_epi16(atOrBelow(_mm256_add_epi16(low_, lowBase)),
                                                atOrBelow(_mm256_add_epi16(high_, highBase)));
        return __builtin_popcount(static_cast<uint32_t>(_mm256_movemask_epi8(both)));
#else
        return countAtOrBelow(low_ + lane(coarse_, first_), target_) +
               countAtOrBelow(high_ + lane(coarse_, first_ + 1), target_);
#endif
    }

    // The median left the active bins (or lies at the first fine bin): moves
    // them to it if it did, and returns the fine position there.
    int relocate(int f) {
        const int c = countAtOrBelow(generic(coarse_), target_) - 1;
        if (c == first_ || c == first_ + 1) return f;
        // Moving down, the median's bin becomes the lower active one;
        // moving up, the upper.
        setFirst(c < first_ ? c : c - 1);
        sumActive();
        return finePosition();
    }

    void setFirst(int first) {
        first_ = first < 0 ? 0 : first > 14 ? 14 : first;
        offset_ = 16 * first_;
#if defined(__AVX512BW__)
        baseIndex_ = _mm512_mask_blend_epi16(0xFFFF0000u, _mm512_set1_epi16(static_cast<short>(first_)),
                                             _mm512_set1_epi16(static_cast<short>(first_ + 1)));
#elif defined(__AVX2__)
        // A dword holding coarse lane c everywhere, then its half c % 2 into every lane.
        const auto pick = [](int c, __m256i& dword, __m256i& bytes) {
            dword = _mm256_set1_epi32(c >> 1);
            const int b = 2 * (c & 1);
            bytes = _mm256_set1_epi16(static_cast<short>((b + 1) << 8 | b));
        };
        pick(first_, lowDword_, lowBytes_);
        pick(first_ + 1, highDword_, highBytes_);
#endif
    }

    void sumActive() {
#if defined(__AVX512BW__)
        pair_ = _mm512_setzero_si512();
        for (int x = at_; x < at_ + maskWidth_; ++x) {
            pair_ = _mm512_add_epi16(pair_, widen32(column(x) + offset_));
        }
#else
        low_ = high_ = Counts{};
        for (int x = at_; x < at_ + maskWidth_; ++x) {
            low_ = plus(low_, widen16(column(x) + offset_));
            high_ = plus(high_, widen16(column(x) + offset_ + 16));
        }
#endif
    }

    // How many of the window's elements lie in bins before fine position f
    // of the active bins: the cumulative count at f - 1 (lanes 16 and up
    // count from the upper active bin on), or the coarse count below the
    // active bins for f = 0. The lane is picked in registers: read back
    // from memory right after a vector store, a lane waits for the store.
    uint32_t countBefore(int f) const {
#if defined(__AVX512BW__)
        const __m512i base = _mm512_permutexvar_epi16(baseIndex_, _mm512_castsi256_si512(coarse_));
        const __m512i cumulative = _mm512_add_epi16(pair_, base);
        // Index 32 takes lane 0 of `base`: the count below the lower active bin.
        const int at = f > 0 ? f - 1 : 32;
        const __m512i picked =
            _mm512_permutex2var_epi16(cumulative, _mm512_set1_epi16(static_cast<short>(at)), base);
        return static_cast<uint32_t>(_mm512_cvtsi512_si32(picked)) & 0xFFFF;
#elif defined(__AVX2__)
        const __m256i lowBase =
            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(coarse_, lowDword_), lowBytes_);
        const __m256i highBase =
            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(coarse_, highDword_), highBytes_);
        // The cumulative counts rise along the 32 lanes, and those at or
        // below the target are lanes 0 .. f - 1: the one at f - 1 is their
        // largest, or the count below the active bins (every lane of
        // lowBase) for f = 0. Found without waiting for f.
        (void)f;
        const auto kept = [&](__m256i counts) {
            return _mm256_and_si256(
                counts, _mm256_cmpeq_epi16(_mm256_max_epu16(counts, targets_), targets_));
        };
        const __m256i most =
            _mm256_max_epu16(_mm256_max_epu16(kept(_mm256_add_epi16(low_, lowBase)),
                                              kept(_mm256_add_epi16(high_, highBase))),
                             lowBase);
        const __m128i half =
            _mm_max_epu16(_mm256_castsi256_si128(most), _mm256_extracti128_si256(most, 1));
        // The largest lane as the smallest of its complements.
        const __m128i least = _mm_minpos_epu16(_mm_xor_si128(half, _mm_set1_epi32(-1)));
        return 0xFFFF - (static_cast<uint32_t>(_mm_cvtsi128_si32(least)) & 0xFFFF);
#else
        uint32_t count = lane(generic(coarse_), f > 16 ? first_ + 1 : first_);
        if (f > 0) count += f - 1 < 16 ? lane(generic(low_), f - 1) : lane(generic(high_), f - 17);
        return count;
#endif
    }

    const uint8_t* columns_;
    int maskWidth_;
    uint32_t target_;
    int at_ = 0;      // first column of the window
    int first_ = 7;   // the lower active coarse bin
    int offset_ = 0;  // its first fine bin
    Counts coarse_{};
#if defined(__AVX512BW__)
    __m512i pair_{};  // fine counts of coarse bins first_ and first_ + 1
    __m512i baseIndex_{};
    __m512i targets_{};
#elif defined(__AVX2__)
    Counts low_{}, high_{};
    __m256i lowDword_{}, lowBytes_{}, highDword_{}, highBytes_{};
    __m256i targets_{};
#else
    Counts low_{}, high_{};
#endif
};

// Bins laid out as columns (x) and lines (y): bin (x, y) at
// bins[x * columnStep + y * lineStep].
struct BinGrid {
    const uint8_t* bins;
    std::ptrdiff_t columnStep, lineStep;
    uint8_t at(int x, int y) const { return bins[x * columnStep + y * lineStep]; }
};

// Places a maskColumns x maskLines window (maskLines at most
// kMaxColumnLines) at each of outColumns x outLines positions and calls
// emit(x, y, median bin) at each (or emit(x, y, median bin, count below it)
// when `Below`), for the element of rank `target`, in strips of
// kColumnHistogramStrip columns, each line by line. Every column of a strip
// keeps the histogram of the maskLines bins under the current line in
// `columns` (kColumnBytes a column, for min(outColumns,
// kColumnHistogramStrip) + maskColumns - 1 columns). A column moves down a
// line just before the window first takes it in, so that the window reads
// it from the first-level cache, but some steps ahead: the window's wide
// loads of a column right after its narrower stores would wait for them.
constexpr int kColumnLead = 8;

template <bool Below = false, typename Emit>
void slideColumnHistograms(const BinGrid& grid, int outColumns, int outLines, int maskColumns,
                           int maskLines, uint32_t target, uint8_t* columns, Emit emit) {
    Window window(columns, maskColumns, target);
    const auto emitAt = [&](int x, int y) {
        if constexpr (Below) {
            uint32_t below = 0;
            const uint8_t bin = window.median(below);
            emit(x, y, bin, below);
        } else {
            emit(x, y, window.median());
        }
    };
    for (int x0 = 0; x0 < outColumns; x0 += kColumnHistogramStrip) {
        const int outputs =
            outColumns - x0 < kColumnHistogramStrip ? outColumns - x0 : kColumnHistogramStrip;
        const int sourceColumns = outputs + maskColumns - 1;
        const BinGrid strip{grid.bins + x0 * grid.columnStep, grid.columnStep, grid.lineStep};
        std::memset(columns, 0, kColumnBytes * static_cast<std::size_t>(sourceColumns));
        for (int y = 0; y < maskLines; ++y) {
            for (int x = 0; x < sourceColumns; ++x) add(columns + x * kColumnBytes, strip.at(x, y));
        }
        window.start();
        emitAt(x0, 0);
        for (int x = 1; x < outputs; ++x) {
            window.step();
            emitAt(x0 + x, 0);
        }
        for (int y = 1; y < outLines; ++y) {
            // Column x drops line y - 1 and takes in line y + maskLines - 1.
            const auto moveDown = [&](int x) {
                replace(columns + x * kColumnBytes, strip.at(x, y - 1),
                        strip.at(x, y - 1 + maskLines));
            };
            const int ahead = maskColumns + kColumnLead < sourceColumns ? maskColumns + kColumnLead
                                                                        : sourceColumns;
            for (int x = 0; x < ahead; ++x) moveDown(x);
            window.start();
            emitAt(x0, y);
            int x = 1;
            for (; x + ahead <= sourceColumns; ++x) {
                moveDown(x + ahead - 1);
                window.step();
                emitAt(x0 + x, y);
            }
            for (; x < outputs; ++x) {
                window.step();
                emitAt(x0 + x, y);
            }
        }
    }
}

}  // namespace

}  // namespace mediankernels::MK_ISA_NS
