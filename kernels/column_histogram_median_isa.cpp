#include <cstring>

#include "column_histogram_median.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

namespace {

// Sixteen bins: the coarse histogram, or the fine bins of one coarse bin.
using Sixteen __attribute__((vector_size(32))) = uint16_t;

Sixteen load16(const uint16_t* p) {
    Sixteen v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The window's histogram. Its coarse bins follow every step; the fine bins of
// a coarse bin are brought up to date only when the median falls in it,
// from the columns that entered and left since it last did (or summed anew
// when that is cheaper), so a step costs about one coarse update when the
// median stays in the same coarse bin, as it mostly does.
class Window {
  public:
    Window(const uint16_t* columns, int maskWidth) : columns_(columns), maskWidth_(maskWidth) {}

    // Places the window on columns 0 .. maskWidth - 1.
    void start() {
        coarse_ = Sixteen{};
        for (int x = 0; x < maskWidth_; ++x) coarse_ += load16(column(x) + 256);
        for (int& at : syncedAt_) at = kNever;
        at_ = 0;
    }
    void step() {
        coarse_ += load16(column(at_ + maskWidth_) + 256) - load16(column(at_) + 256);
        ++at_;
    }

    uint8_t median(uint32_t target) {
        uint16_t bins[16];
        std::memcpy(bins, &coarse_, sizeof bins);
        uint32_t below = 0;
        const int c = countPrefixesUpTo(bins, target, below);
        std::memcpy(bins, &fineFor(c), sizeof bins);
        return static_cast<uint8_t>(c * 16 + countPrefixesUpTo(bins, target, below));
    }

  private:
    static constexpr int kNever = -(1 << 30);

    const uint16_t* column(int x) const {
        return columns_ + static_cast<std::ptrdiff_t>(x) * kColumnBins;
    }

    const Sixteen& fineFor(int c) {
        Sixteen& fine = fine_[c];
        const int behind = at_ - syncedAt_[c];
        if (behind >= maskWidth_ / 2 + 1) {
            fine = Sixteen{};
            for (int x = at_; x < at_ + maskWidth_; ++x) fine += load16(column(x) + c * 16);
        } else {
            for (int x = syncedAt_[c]; x < at_; ++x) {
                fine += load16(column(x + maskWidth_) + c * 16) - load16(column(x) + c * 16);
            }
        }
        syncedAt_[c] = at_;
        return fine;
    }

    const uint16_t* columns_;
    int maskWidth_;
    int at_ = 0;  // first column of the window
    Sixteen coarse_{};
    Sixteen fine_[16]{};
    int syncedAt_[16]{};

    // How many of the 16 running sums below + bins[0..i] stay <= target,
    // which is the index of the bin holding rank target; `below` gains the
    // bins before it. Running sums by doubling shifts, the count by a bit
    // count of the comparison mask: no branch depends on the data.
    static int countPrefixesUpTo(const uint16_t* bins, uint32_t target, uint32_t& below) {
        Sixteen sums;
        std::memcpy(&sums, bins, sizeof sums);
        const Sixteen zero{};
        sums += __builtin_shuffle(sums, zero,
                                  Sixteen{16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
        sums += __builtin_shuffle(sums, zero,
                                  Sixteen{16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
        sums += __builtin_shuffle(sums, zero,
                                  Sixteen{16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        sums += __builtin_shuffle(sums, zero,
                                  Sixteen{16, 16, 16, 16, 16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7});
        // Counts fit 16 bits (windows hold at most 65535 elements).
        sums += static_cast<uint16_t>(below);
        const auto within = sums <= static_cast<uint16_t>(target);
        uint64_t words[4];
        std::memcpy(words, &within, sizeof words);
        const int count = (__builtin_popcountll(words[0]) + __builtin_popcountll(words[1]) +
                           __builtin_popcountll(words[2]) + __builtin_popcountll(words[3])) /
                          16;
        uint16_t running[16];
        std::memcpy(running, &sums, sizeof running);
        below = count > 0 ? running[count - 1] : below;
        return count;
    }
};

void count(uint16_t* column, uint8_t value, uint16_t delta) {
    column[value] = static_cast<uint16_t>(column[value] + delta);
    column[256 + (value >> 4)] = static_cast<uint16_t>(column[256 + (value >> 4)] + delta);
}

}  // namespace

void columnHistogramMedian8u(const MedianJob& job, uint16_t* columns) {
    const int sourceWidth = job.width + job.maskWidth - 1;
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    std::memset(columns, 0, sizeof(uint16_t) * kColumnBins * static_cast<std::size_t>(sourceWidth));
    for (int r = 0; r < job.maskHeight; ++r) {
        const unsigned char* line = job.origin + r * job.srcStep;
        for (int x = 0; x < sourceWidth; ++x) count(columns + x * kColumnBins, line[x], 1);
    }
    Window window(columns, job.maskWidth);
    for (int y = 0; y < job.height; ++y) {
        if (y > 0) {
            // The columns drop line y - 1 and take in line y + maskHeight - 1.
            const unsigned char* leaving = job.origin + (y - 1) * job.srcStep;
            const unsigned char* entering = leaving + job.maskHeight * job.srcStep;
            for (int x = 0; x < sourceWidth; ++x) {
                count(columns + x * kColumnBins, leaving[x], 0xFFFF);
                count(columns + x * kColumnBins, entering[x], 1);
            }
        }
        unsigned char* out = job.dst + y * job.dstStep;
        window.start();
        out[0] = window.median(target);
        for (int x = 1; x < job.width; ++x) {
            window.step();
            out[x] = window.median(target);
        }
    }
}

}  // namespace mediankernels::MK_ISA_NS
