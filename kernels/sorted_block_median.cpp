#include "sorted_block_median.h"

namespace mediankernels {

namespace {

// A region whose sorted items, positions and keys stay in the second-level cache.
constexpr int kBlockElements = 16384;
// Elements along the slide in a block's region: longer lines start the
// window less often per output, but their column histograms (kColumnBytes
// each, 35 KB for 128) outgrow the first-level cache. 128 to 160 measured
// best; 64 was 5 to 17 % slower at 25 x 25 and 31 x 31.
constexpr int kBlockLine = 128;
// Every line along the slide keeps a 272-byte histogram, and a block spans at
// least the mask: longer masks (thin ones, then) take the running histogram.
constexpr int kMaxBlockMaskExtent = 4096;

}  // namespace

bool sortedBlockFits(int maskWidth, int maskHeight) {
    return int64_t{maskWidth} * maskHeight < kMaxBlockElements &&
           (maskWidth > maskHeight ? maskWidth : maskHeight) <= kMaxBlockMaskExtent;
}

SortedBlockPlan planSortedBlocks(const MedianJob& job, std::ptrdiff_t elementSize) {
    SortedBlockPlan p{};
    // Slide along the extent whose lines are shorter.
    if (job.maskHeight <= job.maskWidth) {
        p.outU = job.width, p.outV = job.height, p.maskU = job.maskWidth, p.maskV = job.maskHeight;
        p.srcU = elementSize, p.srcV = job.srcStep, p.dstU = elementSize, p.dstV = job.dstStep;
    } else {
        p.outU = job.height, p.outV = job.width, p.maskU = job.maskHeight, p.maskV = job.maskWidth;
        p.srcU = job.srcStep, p.srcV = elementSize, p.dstU = job.dstStep, p.dstV = elementSize;
    }
    // About four windows' worth of elements or more, a power of two, so that
    // a rank's bin is a shift.
    const int64_t count = int64_t{p.maskU} * p.maskV;
    int64_t elements = kBlockElements;
    while (elements < 4 * count && elements < kMaxBlockElements) elements *= 2;
    p.regionElements = static_cast<int>(elements);
    p.binShift = 0;
    while ((int64_t{kBins} << p.binShift) < elements) ++p.binShift;

    // Regions kBlockLine long along u, or longer when the mask is, so that a
    // block has at least as many outputs along u as the mask is long: every
    // line of the slide starts its window anew over maskU - 1 columns.
    const int64_t fullU = int64_t{p.outU} + p.maskU - 1, fullV = int64_t{p.outV} + p.maskV - 1;
    int64_t ru = kBlockLine > 2 * p.maskU - 1 ? kBlockLine : 2 * p.maskU - 1;
    if (fullU < ru) ru = fullU;
    if (ru * p.maskV > elements) ru = elements / p.maskV;
    int64_t rv = elements / ru;
    if (fullV < rv) rv = fullV;
    // The same number of blocks, as even as can be: a narrow last block
    // would cost nearly a full block's sort and histograms.
    const auto even = [](int outputs, int64_t most) {
        const int64_t blocks = (outputs + most - 1) / most;
        return static_cast<int>((outputs + blocks - 1) / blocks);
    };
    p.blockU = even(p.outU, ru - p.maskU + 1);
    p.blockV = even(p.outV, rv - p.maskV + 1);
    return p;
}

}  // namespace mediankernels
