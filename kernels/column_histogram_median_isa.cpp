#include "column_histogram_median.h"

#include <cstring>

#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

namespace {

#if MK_VECTOR_BYTES > 0
using Counts __attribute__((vector_size(MK_VECTOR_BYTES))) = uint16_t;
#else
using Counts = uint16_t;
#endif
constexpr int kPerVector = sizeof(Counts) / sizeof(uint16_t);
constexpr int kVectors = kColumnBins / kPerVector;
using Sixteen __attribute__((vector_size(32))) = uint16_t;

// The window's histogram, kept whole in vectors.
struct Window {
    Counts v[kVectors];

    void clear() { std::memset(v, 0, sizeof v); }
    void add(const uint16_t* column) {
        for (int i = 0; i < kVectors; ++i) v[i] += load(column + i * kPerVector);
    }
    void move(const uint16_t* entering, const uint16_t* leaving) {
        for (int i = 0; i < kVectors; ++i) {
            v[i] += load(entering + i * kPerVector) - load(leaving + i * kPerVector);
        }
    }
    uint8_t median(uint32_t target) const {
        uint16_t bins[kColumnBins];
        std::memcpy(bins, v, sizeof bins);
        uint32_t below = 0;
        const int coarse = countPrefixesUpTo(bins + 256, target, below);
        return static_cast<uint8_t>(coarse * 16 + countPrefixesUpTo(bins + coarse * 16, target, below));
    }
    // How many of the 16 running sums below + bins[0..i] stay <= target,
    // which is the index of the bin holding rank target; `below` gains the
    // bins before it. Running sums by doubling shifts, the count by a bit
    // count of the comparison mask: no branch depends on the data.
    static int countPrefixesUpTo(const uint16_t* bins, uint32_t target, uint32_t& below) {
        Sixteen sums;
        std::memcpy(&sums, bins, sizeof sums);
        const Sixteen zero{};
        sums += __builtin_shuffle(sums, zero, Sixteen{16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
        sums += __builtin_shuffle(sums, zero, Sixteen{16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
        sums += __builtin_shuffle(sums, zero, Sixteen{16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        sums += __builtin_shuffle(sums, zero, Sixteen{16, 16, 16, 16, 16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7});
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
    static Counts load(const uint16_t* p) {
        Counts c;
        std::memcpy(&c, p, sizeof c);
        return c;
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
    Window window;
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
        window.clear();
        for (int x = 0; x < job.maskWidth; ++x) window.add(columns + x * kColumnBins);
        out[0] = window.median(target);
        for (int x = 1; x < job.width; ++x) {
            window.move(columns + (x + job.maskWidth - 1) * kColumnBins,
                        columns + (x - 1) * kColumnBins);
            out[x] = window.median(target);
        }
    }
}

}  // namespace mediankernels::MK_ISA_NS
