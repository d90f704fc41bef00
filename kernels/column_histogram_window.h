#pragma once

// The window of the constant-time histogram medians: the window's histogram
// of 256 bins as the sum of per-column histograms (256 fine bins and 16
// cumulative coarse counts, kColumnBins counts a column), stepping one column
// at a time.
// Included by the kernel sources compiled once per instruction set, inside
// their namespace; everything here is local to the including file.

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "column_histogram_median.h"

namespace mediankernels::MK_ISA_NS {

namespace {

// Sixteen bins: the coarse counts, or the fine bins of one coarse bin.
using Sixteen __attribute__((vector_size(32))) = uint16_t;

Sixteen load16(const uint16_t* p) {
    Sixteen v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lane i - 1 of `v`, or 0 for i = 0, without a branch.
uint16_t laneBefore(Sixteen v, int i) {
    uint16_t lanes[17];
    lanes[0] = 0;
    std::memcpy(lanes + 1, &v, sizeof v);
    return lanes[i];
}

// How many lanes of `v` are at or below `limit`, unsigned. No branch depends
// on the data.
int countAtOrBelow(Sixteen v, uint32_t limit) {
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

// The running sums of `v` from its first lane on, plus `base`.
Sixteen runningSums(Sixteen v, uint32_t base) {
#if defined(__AVX2__)
    __m256i sums;
    std::memcpy(&sums, &v, sizeof sums);
    sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 2));
    sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 4));
    sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 8));
    // Each half now runs on its own; the upper one gains the lower's total.
    __m256i lowTotal = _mm256_shufflehi_epi16(sums, 0xFF);
    lowTotal = _mm256_unpackhi_epi64(lowTotal, lowTotal);
    sums = _mm256_add_epi16(sums, _mm256_permute2x128_si256(lowTotal, lowTotal, 0x08));
    sums = _mm256_add_epi16(sums, _mm256_set1_epi16(static_cast<short>(base)));
    Sixteen result;
    std::memcpy(&result, &sums, sizeof result);
    return result;
#elif defined(__SSE2__)
    __m128i halves[2];
    std::memcpy(halves, &v, sizeof halves);
    for (__m128i& h : halves) {
        h = _mm_add_epi16(h, _mm_slli_si128(h, 2));
        h = _mm_add_epi16(h, _mm_slli_si128(h, 4));
        h = _mm_add_epi16(h, _mm_slli_si128(h, 8));
    }
    halves[0] = _mm_add_epi16(halves[0], _mm_set1_epi16(static_cast<short>(base)));
    halves[1] = _mm_add_epi16(halves[1], _mm_set1_epi16(static_cast<short>(_mm_extract_epi16(halves[0], 7))));
    Sixteen sums;
    std::memcpy(&sums, halves, sizeof sums);
    return sums;
#else
    uint16_t lanes[16];
    std::memcpy(lanes, &v, sizeof lanes);
    uint32_t sum = base;
    for (uint16_t& x : lanes) x = static_cast<uint16_t>(sum += x);
    Sixteen sums;
    std::memcpy(&sums, lanes, sizeof sums);
    return sums;
#endif
}

// Lanes c and above of kSteps[c] are 1: added to a column's cumulative
// coarse counts they count a value of coarse bin c.
struct Steps {
    uint16_t lanes[16][16];
};
constexpr Steps makeSteps() {
    Steps s{};
    for (int c = 0; c < 16; ++c) {
        for (int k = c; k < 16; ++k) s.lanes[c][k] = 1;
    }
    return s;
}
constexpr Steps kSteps = makeSteps();

// A column: its fine counts (bins 0..255) and at kCumulative its cumulative
// coarse counts, lane c counting the values below 16 (c + 1).
constexpr int kCumulative = 256;

void add(uint16_t* column, uint8_t value) {
    ++column[value];
    const Sixteen cumulative = load16(column + kCumulative) + load16(kSteps.lanes[value >> 4]);
    std::memcpy(column + kCumulative, &cumulative, sizeof cumulative);
}

// Takes `out` from the column and puts `in` into it.
void replace(uint16_t* column, uint8_t out, uint8_t in) {
    --column[out];
    ++column[in];
    const Sixteen cumulative = load16(column + kCumulative) + load16(kSteps.lanes[in >> 4]) -
                               load16(kSteps.lanes[out >> 4]);
    std::memcpy(column + kCumulative, &cumulative, sizeof cumulative);
}

// The window's histogram: its cumulative coarse counts follow every step,
// and so do the fine counts of two neighbouring coarse bins, the "active"
// ones, chosen where the median last was. The median's coarse bin is then
// one compare away, and it mostly stays among the active bins from one
// output to the next; when it leaves, the active bins move to it and their
// fine counts are summed anew from the window's columns. A step thus costs
// three updates of sixteen counts, and no branch that depends on the data
// is taken while the median stays.
class Window {
  public:
    Window(const uint16_t* columns, int maskWidth) : columns_(columns), maskWidth_(maskWidth) {}

    // Places the window on columns 0 .. maskWidth - 1, keeping the active bins.
    void start() {
        at_ = 0;
        cumulative_ = Sixteen{};
        for (int x = 0; x < maskWidth_; ++x) cumulative_ += load16(column(x) + kCumulative);
        sumActive();
    }
    void step() {
        const uint16_t* in = column(at_ + maskWidth_);
        const uint16_t* out = column(at_);
        cumulative_ += load16(in + kCumulative) - load16(out + kCumulative);
        low_ += load16(in + first_ * 16) - load16(out + first_ * 16);
        high_ += load16(in + first_ * 16 + 16) - load16(out + first_ * 16 + 16);
        ++at_;
    }

    // The bin holding the element of rank `target` in the window; `below`
    // receives how many of the window's elements lie in bins before it.
    uint8_t median(uint32_t target, uint32_t& below) {
        const int c = countAtOrBelow(cumulative_, target);
        const uint32_t coarseBelow = laneBefore(cumulative_, c);
        if (c < first_ || c > first_ + 1) {
            // Moving down, the median's bin becomes the lower active one;
            // moving up, the upper.
            first_ = c < first_ ? c : c - 1;
            if (first_ > 14) first_ = 14;
            sumActive();
        }
        const Sixteen running = runningSums(active(c), coarseBelow);
        const int f = countAtOrBelow(running, target);
        below = f > 0 ? laneBefore(running, f) : coarseBelow;
        return static_cast<uint8_t>(c * 16 + f);
    }
    uint8_t median(uint32_t target) {
        const int c = countAtOrBelow(cumulative_, target);
        const uint32_t coarseBelow = laneBefore(cumulative_, c);
        if (c < first_ || c > first_ + 1) {
            first_ = c < first_ ? c : c - 1;
            if (first_ > 14) first_ = 14;
            sumActive();
        }
        const Sixteen running = runningSums(active(c), coarseBelow);
        return static_cast<uint8_t>(c * 16 + countAtOrBelow(running, target));
    }

  private:
    const uint16_t* column(int x) const {
        return columns_ + static_cast<std::ptrdiff_t>(x) * kColumnBins;
    }

    // The fine counts of active coarse bin c, chosen without a branch: the
    // median changes between the two at random on noisy pictures.
    Sixteen active(int c) const {
        const auto pick = static_cast<uint16_t>(c == first_ ? 0xFFFF : 0);
        const Sixteen low = Sixteen{} + pick;
        return (low_ & low) | (high_ & ~low);
    }

    void sumActive() {
        low_ = high_ = Sixteen{};
        for (int x = at_; x < at_ + maskWidth_; ++x) {
            low_ += load16(column(x) + first_ * 16);
            high_ += load16(column(x) + first_ * 16 + 16);
        }
    }

    const uint16_t* columns_;
    int maskWidth_;
    int at_ = 0;     // first column of the window
    int first_ = 7;  // the lower active coarse bin
    Sixteen cumulative_{};
    Sixteen low_{}, high_{};  // fine counts of coarse bins first_ and first_ + 1
};

// Bins laid out as columns (x) and lines (y): bin (x, y) at
// bins[x * columnStep + y * lineStep].
struct BinGrid {
    const uint8_t* bins;
    std::ptrdiff_t columnStep, lineStep;
    uint8_t at(int x, int y) const { return bins[x * columnStep + y * lineStep]; }
};

// A strip's histograms stay in the second-level cache.
constexpr int kStripOutputs = kColumnHistogramStrip;

// Places a maskColumns x maskLines window at each of outColumns x outLines
// positions and calls emit(x, y, window) at each, in strips of kStripOutputs
// columns, each line by line. Every column of a strip keeps the histogram of
// the maskLines bins under the current line in `columns` (kColumnBins counts
// a column, for min(outColumns, kStripOutputs) + maskColumns - 1 columns).
template <typename Emit>
void slideColumnHistograms(const BinGrid& grid, int outColumns, int outLines, int maskColumns,
                           int maskLines, uint16_t* columns, Emit emit) {
    Window window(columns, maskColumns);
    for (int x0 = 0; x0 < outColumns; x0 += kStripOutputs) {
        const int outputs = outColumns - x0 < kStripOutputs ? outColumns - x0 : kStripOutputs;
        const int sourceColumns = outputs + maskColumns - 1;
        const BinGrid strip{grid.bins + x0 * grid.columnStep, grid.columnStep, grid.lineStep};
        std::memset(columns, 0,
                    sizeof(uint16_t) * kColumnBins * static_cast<std::size_t>(sourceColumns));
        for (int y = 0; y < maskLines; ++y) {
            for (int x = 0; x < sourceColumns; ++x) add(columns + x * kColumnBins, strip.at(x, y));
        }
        for (int y = 0; y < outLines; ++y) {
            if (y > 0) {
                // The columns drop line y - 1 and take in line y + maskLines - 1.
                for (int x = 0; x < sourceColumns; ++x) {
                    replace(columns + x * kColumnBins, strip.at(x, y - 1),
                            strip.at(x, y - 1 + maskLines));
                }
            }
            if (grid.columnStep == 1 && y + 1 < outLines) {
                // The lines the next update reads, while this line's outputs run.
                for (int x = 0; x < sourceColumns; x += 64) {
                    __builtin_prefetch(strip.bins + x + y * strip.lineStep);
                    __builtin_prefetch(strip.bins + x + (y + maskLines) * strip.lineStep);
                }
            }
            window.start();
            emit(x0, y, window);
            for (int x = 1; x < outputs; ++x) {
                window.step();
                emit(x0 + x, y, window);
            }
        }
    }
}

}  // namespace

}  // namespace mediankernels::MK_ISA_NS
