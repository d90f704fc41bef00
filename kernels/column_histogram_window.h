#pragma once

// The window of the constant-time histogram medians: the window's histogram
// of 256 bins as the sum of per-column histograms (256 fine bins and 16
// coarse ones, kColumnBins counts a column), stepping one column at a time.
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

// Sixteen bins: the coarse histogram, or the fine bins of one coarse bin.
using Sixteen __attribute__((vector_size(32))) = uint16_t;

Sixteen load16(const uint16_t* p) {
    Sixteen v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The window's histogram. Its coarse bins follow every step, and so do the
// fine bins of kActive neighbouring coarse bins, the "active" ones, chosen
// where the median last was. The median mostly stays among them from one
// output to the next; when it leaves, the active bins move to it and their
// fine counts are summed anew from the window's columns. A step thus costs
// two updates of sixteen counts per active bin and one for the coarse bins,
// and no branch that depends on the data is taken while the median stays.
class Window {
  public:
    static constexpr int kActive = 2;

    Window(const uint16_t* columns, int maskWidth) : columns_(columns), maskWidth_(maskWidth) {}

    // Places the window on columns 0 .. maskWidth - 1, keeping the active bins.
    void start() {
        at_ = 0;
        coarse_ = Sixteen{};
        for (int x = 0; x < maskWidth_; ++x) coarse_ += load16(column(x) + 256);
        sumActive();
    }
    void step() {
        const uint16_t* in = column(at_ + maskWidth_);
        const uint16_t* out = column(at_);
        coarse_ += load16(in + 256) - load16(out + 256);
        for (int k = 0; k < kActive; ++k) {
            fine_[k] += load16(in + (first_ + k) * 16) - load16(out + (first_ + k) * 16);
        }
        ++at_;
    }

    // The bin holding the element of rank `target` in the window.
    uint8_t median(uint32_t target) {
        uint16_t bins[16];
        std::memcpy(bins, &coarse_, sizeof bins);
        below_ = 0;
        const int c = countPrefixesUpTo(bins, target, below_);
        if (c < first_ || c >= first_ + kActive) {
            // Moving down, the median's bin becomes the first active one;
            // moving up, the last.
            first_ = c < first_ ? c : c - (kActive - 1);
            if (first_ > 16 - kActive) first_ = 16 - kActive;
            sumActive();
        }
        std::memcpy(bins, &fine_[c - first_], sizeof bins);
        return static_cast<uint8_t>(c * 16 + countPrefixesUpTo(bins, target, below_));
    }
    // How many of the window's elements lie in bins before the last median's.
    uint32_t belowMedianBin() const { return below_; }

  private:
    const uint16_t* column(int x) const {
        return columns_ + static_cast<std::ptrdiff_t>(x) * kColumnBins;
    }

    void sumActive() {
        for (int k = 0; k < kActive; ++k) {
            Sixteen sum{};
            for (int x = at_; x < at_ + maskWidth_; ++x) sum += load16(column(x) + (first_ + k) * 16);
            fine_[k] = sum;
        }
    }

    const uint16_t* columns_;
    int maskWidth_;
    int at_ = 0;  // first column of the window
    int first_ = 7;  // first active coarse bin
    Sixteen coarse_{};
    Sixteen fine_[kActive]{};
    uint32_t below_ = 0;

    // How many of the 16 running sums below + bins[0..i] stay <= target,
    // which is the index of the bin holding rank target; `below` gains the
    // bins before it. Running sums by doubling shifts, the count by a bit
    // count of the comparison mask: no branch depends on the data. Counts
    // fit 16 bits (windows hold at most 65535 elements).
    static int countPrefixesUpTo(const uint16_t* bins, uint32_t target, uint32_t& below) {
        uint16_t running[16];
        int count;
#if defined(__AVX2__)
        __m256i sums = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bins));
        sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 2));
        sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 4));
        sums = _mm256_add_epi16(sums, _mm256_slli_si256(sums, 8));
        // Each half now runs on its own; the upper one gains the lower's total.
        __m256i lowTotal = _mm256_shufflehi_epi16(sums, 0xFF);
        lowTotal = _mm256_unpackhi_epi64(lowTotal, lowTotal);
        sums = _mm256_add_epi16(sums, _mm256_permute2x128_si256(lowTotal, lowTotal, 0x08));
        sums = _mm256_add_epi16(sums, _mm256_set1_epi16(static_cast<short>(below)));
        const __m256i limit = _mm256_set1_epi16(static_cast<short>(target));
        const __m256i within = _mm256_cmpeq_epi16(_mm256_max_epu16(sums, limit), limit);
        count = __builtin_popcount(static_cast<uint32_t>(_mm256_movemask_epi8(within))) / 2;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(running), sums);
#elif defined(__SSE2__)
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bins));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bins + 8));
        low = _mm_add_epi16(low, _mm_slli_si128(low, 2));
        high = _mm_add_epi16(high, _mm_slli_si128(high, 2));
        low = _mm_add_epi16(low, _mm_slli_si128(low, 4));
        high = _mm_add_epi16(high, _mm_slli_si128(high, 4));
        low = _mm_add_epi16(low, _mm_slli_si128(low, 8));
        high = _mm_add_epi16(high, _mm_slli_si128(high, 8));
        low = _mm_add_epi16(low, _mm_set1_epi16(static_cast<short>(below)));
        high = _mm_add_epi16(high, _mm_set1_epi16(static_cast<short>(_mm_extract_epi16(low, 7))));
        // Unsigned <= by signed compares after moving both sides by 0x8000.
        const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
        const __m128i limit = _mm_set1_epi16(static_cast<short>(target ^ 0x8000));
        const auto above = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_xor_si128(low, bias), limit)) |
            _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_xor_si128(high, bias), limit)) << 16);
        count = 16 - __builtin_popcount(above) / 2;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(running), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(running + 8), high);
#else
        uint32_t sum = below;
        count = 0;
        for (int i = 0; i < 16; ++i) {
            sum += bins[i];
            running[i] = static_cast<uint16_t>(sum);
            count += sum <= target;
        }
#endif
        below = count > 0 ? running[count - 1] : below;
        return count;
    }
};

// Adds `delta` (1, or 0xFFFF to take one away) to the bin `value` of a column.
void count(uint16_t* column, uint8_t value, uint16_t delta) {
    column[value] = static_cast<uint16_t>(column[value] + delta);
    column[256 + (value >> 4)] = static_cast<uint16_t>(column[256 + (value >> 4)] + delta);
}

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
            for (int x = 0; x < sourceColumns; ++x) count(columns + x * kColumnBins, strip.at(x, y), 1);
        }
        for (int y = 0; y < outLines; ++y) {
            if (y > 0) {
                // The columns drop line y - 1 and take in line y + maskLines - 1.
                for (int x = 0; x < sourceColumns; ++x) {
                    count(columns + x * kColumnBins, strip.at(x, y - 1), 0xFFFF);
                    count(columns + x * kColumnBins, strip.at(x, y - 1 + maskLines), 1);
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
