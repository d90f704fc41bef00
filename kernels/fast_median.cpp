#include "fast_median.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "argument_check.h"
#include "column_histogram_median.h"
#include "histogram_median.h"
#include "selection_network.h"
#include "sorted_block_median.h"
#include "sorted_column_median.h"

namespace mediankernels {

void windowOffsets(const MedianJob& job, std::ptrdiff_t elementBytes, std::ptrdiff_t* offsets) {
    for (int r = 0; r < job.maskHeight; ++r) {
        for (int c = 0; c < job.maskWidth; ++c) *offsets++ = r * job.srcStep + c * elementBytes;
    }
}

namespace {

// Largest windows for which the plain network beats the other methods; its
// cost grows with the window, theirs much less. The sorted-column networks,
// where a mask has one (up to 11 x 11), come before all of them. Measured
// with bench/median: past these, bytes go to the column histograms and the
// wider types to sorted blocks, each about constant in the window size there.
constexpr int kNetworkLimit = 81;
// Networks built at run time (counts not compiled in) are evaluated from a
// table of comparators and cost about twice the compiled ones: from 58
// elements on, the column histograms and the sorted blocks beat them by up to
// 3x (7 x 11: 13 against 8 ns for bytes, 86 against 35 ns for floats).
constexpr int kRuntimeNetworkLimit = 57;

struct alignas(kMaxVectorBytes) VectorSlot {
    unsigned char bytes[kMaxVectorBytes];
};

// Runs the network kernel for element type `Element` (bytes, 16-bit words or
// OrderedFloat keys) over `job`.
template <typename Element>
void runNetwork(const MedianJob& job, Isa isa) {
    const int count = job.maskWidth * job.maskHeight;
    std::vector<std::ptrdiff_t> offsets(static_cast<std::size_t>(count));
    windowOffsets(job, sizeof(Element), offsets.data());
    const NetworkKernels<Element> kernels = networkKernels<Element>(isa);
    if (hasFixedNetwork(count)) {
        kernels.fixed(job, offsets.data());
        return;
    }
    const auto capacity = static_cast<std::size_t>(sortingComparatorCount(count));
    std::vector<Comparator> comparators(capacity), scratch(capacity);
    std::vector<unsigned char> needed(static_cast<std::size_t>(count));
    const int size = buildSelectionNetwork(count, comparators.data(), scratch.data(),
                                           reinterpret_cast<bool*>(needed.data()));
    std::vector<VectorSlot> slots(static_cast<std::size_t>(count));
    kernels.runtime(job, offsets.data(), RuntimeNetwork{comparators.data(), size}, slots.data());
}

// Floats are turned into keys once per element rather than once per window
// that holds it, a strip of lines at a time so the keys stay in cache.
void floatNetworkMedian(const MedianJob& job, Isa isa) {
    constexpr int kStripElements = 24 * 1024;
    const int sourceWidth = job.width + job.maskWidth - 1;
    const int strip = std::max(8, kStripElements / sourceWidth - (job.maskHeight - 1));
    const OrderedFloatKeys toKeys = orderedFloatKeysKernel(isa);
    std::vector<int32_t> keys(static_cast<std::size_t>(sourceWidth) *
                              (std::min(strip, job.height) + job.maskHeight - 1));
    for (int first = 0; first < job.height; first += strip) {
        const int lines = std::min(strip, job.height - first);
        for (int r = 0; r < lines + job.maskHeight - 1; ++r) {
            toKeys(job.origin + (first + r) * job.srcStep, sourceWidth,
                   keys.data() + static_cast<std::size_t>(r) * sourceWidth);
        }
        MedianJob part = job;
        part.origin = reinterpret_cast<const unsigned char*>(keys.data());
        part.srcStep = static_cast<std::ptrdiff_t>(sourceWidth) * 4;
        part.dst = job.dst + first * job.dstStep;
        part.height = lines;
        runNetwork<OrderedFloat>(part, isa);
    }
}

template <typename T>
void networkMedian(const MedianJob& job, Isa isa, Method method);

// A region narrower than the widest vector, on a vector set: filtered on a
// copy whose lines are that wide (zeros past the source), so that the vector
// kernels serve it too; the one-lane build only runs its networks from tables.
// The copy is made a band of output lines at a time, so that a tall narrow
// region costs a bounded buffer, not one several times the region's size.
template <typename T>
void narrowNetworkMedian(const MedianJob& job, Isa isa, Method method) {
    constexpr int kWide = static_cast<int>(kMaxVectorBytes / sizeof(T));
    constexpr int kBandLines = 256;
    const auto e = static_cast<std::ptrdiff_t>(sizeof(T));
    const int columns = job.width + job.maskWidth - 1;
    const int paddedColumns = kWide + job.maskWidth - 1;
    const int bandLines = std::min(job.height, kBandLines);
    std::vector<T> src(static_cast<std::size_t>(paddedColumns) * (bandLines + job.maskHeight - 1));
    std::vector<T> dst(static_cast<std::size_t>(kWide) * bandLines);
    for (int y0 = 0; y0 < job.height; y0 += bandLines) {
        const int height = std::min(bandLines, job.height - y0);
        const int lines = height + job.maskHeight - 1;
        const unsigned char* origin = job.origin + static_cast<std::ptrdiff_t>(y0) * job.srcStep;
        for (int r = 0; r < lines; ++r) {
            std::memcpy(src.data() + static_cast<std::size_t>(r) * paddedColumns,
                        origin + static_cast<std::ptrdiff_t>(r) * job.srcStep, columns * e);
        }
        MedianJob padded = job;
        padded.origin = reinterpret_cast<const unsigned char*>(src.data());
        padded.srcStep = paddedColumns * e;
        padded.dst = reinterpret_cast<unsigned char*>(dst.data());
        padded.dstStep = kWide * e;
        padded.width = kWide;
        padded.height = height;
        networkMedian<T>(padded, isa, method);
        unsigned char* out = job.dst + static_cast<std::ptrdiff_t>(y0) * job.dstStep;
        for (int r = 0; r < height; ++r) {
            std::memcpy(out + static_cast<std::ptrdiff_t>(r) * job.dstStep,
                        dst.data() + static_cast<std::size_t>(r) * kWide, job.width * e);
        }
    }
}

template <typename T>
void networkMedian(const MedianJob& job, Isa isa, Method method) {
    if (isa != Isa::kScalar && job.width < static_cast<int>(kMaxVectorBytes / sizeof(T))) {
        return narrowNetworkMedian<T>(job, isa, method);
    }
    if (method == Method::kSortedColumns && hasSortedColumnNetwork(job.maskWidth, job.maskHeight)) {
        using Element = std::conditional_t<std::is_same_v<T, float>, OrderedFloat, T>;
        std::vector<VectorSlot> scratch(sortedColumnScratchBytes(job.width, job.maskWidth, job.maskHeight,
                                                                 std::is_same_v<T, float>) /
                                        sizeof(VectorSlot));
        sortedColumnKernel<Element>(isa)(job, scratch.data());
        return;
    }
    if constexpr (std::is_same_v<T, float>) {
        floatNetworkMedian(job, isa);
    } else {
        runNetwork<T>(job, isa);
    }
}

void columnHistogramMedian(const MedianJob& job, Isa isa) {
    const std::size_t bytes =
        columnHistogramAcross(job.maskHeight)
            ? columnHistogramBytes(job.height, job.maskHeight)
            : columnHistogramBytes(job.width, job.maskWidth);
    std::vector<VectorSlot> columns(bytes / sizeof(VectorSlot) + 1);
    columnHistogramKernel(isa)(job, reinterpret_cast<uint8_t*>(columns.data()));
}

template <typename T>
void sortedBlockMedian(const MedianJob& job, Isa isa) {
    const SortedBlockPlan plan = planSortedBlocks(job, sizeof(T));
    const auto n = static_cast<std::size_t>(plan.regionElements);
    std::vector<uint64_t> items(n), spare(n);
    std::vector<uint32_t> keys(n);
    std::vector<uint16_t> positionU(n + kPositionPadding), positionV(n + kPositionPadding);
    std::vector<uint8_t> bins(n);
    const auto lineSlots =
        static_cast<std::size_t>(plan.regionU()) * kColumnBytes / sizeof(VectorSlot) + 1;
    std::vector<VectorSlot> lines(lineSlots);
    sortedBlockKernel<T>(isa)(job, plan,
                              {items.data(), spare.data(), keys.data(), positionU.data(),
                               positionV.data(), bins.data(),
                               reinterpret_cast<uint8_t*>(lines.data())});
}

}  // namespace

template <typename T>
Method automaticMethod(int maskWidth, int maskHeight) {
    const int count = maskWidth * maskHeight;
    if (hasSortedColumnNetwork(maskWidth, maskHeight)) return Method::kSortedColumns;
    if (count <= kNetworkLimit && (hasFixedNetwork(count) || count <= kRuntimeNetworkLimit)) {
        return Method::kNetwork;
    }
    if (sizeof(T) == 1 && count <= kMaxColumnHistogramCount) return Method::kColumnHistogram;
    if (sizeof(T) > 1 && sortedBlockFits(maskWidth, maskHeight)) return Method::kSortedBlock;
    return Method::kHistogram;
}

template <typename T>
MedianKernelStatus fastMedian(const T* src, int32_t srcStep, T* dst, int32_t dstStep,
                              MedianKernelSize dstRoi, MedianKernelSize mask,
                              MedianKernelPoint anchor, Isa isa, Method method) {
    const MedianKernelStatus status =
        checkArguments(src, srcStep, dst, dstStep, dstRoi, mask, anchor, sizeof(T));
    if (status != kMedianOk) return status;

    const auto* anchorElement = reinterpret_cast<const unsigned char*>(src);
    const MedianJob job{anchorElement - anchor.y * static_cast<std::ptrdiff_t>(srcStep) -
                            anchor.x * static_cast<std::ptrdiff_t>(sizeof(T)),
                        srcStep,
                        reinterpret_cast<unsigned char*>(dst),
                        dstStep,
                        dstRoi.width,
                        dstRoi.height,
                        mask.width,
                        mask.height};
    const int count = mask.width * mask.height;
    if (method == Method::kAuto) {
        method = automaticMethod<T>(mask.width, mask.height);
        // Without SSE4.1 the lane-wise min / max of 32-bit keys take several
        // instructions each; past 81 elements the networks then lose to the
        // sorted blocks. (SSE2 filters unsigned words as signed ones; the
        // one-lane build keeps its choice for them.)
        const bool emulatedMinMax =
            sizeof(T) == 4 ? isa <= Isa::kSse2 : std::is_same_v<T, uint16_t> && isa == Isa::kScalar;
        if (emulatedMinMax && method == Method::kSortedColumns && count > kNetworkLimit) {
            method = Method::kSortedBlock;
        }
        // SSE2 floats go there from 81 elements on (9 x 9 1.6x as fast), and
        // for the 49- and 81-element networks too (1 x 49 as fast, 3 x 27 five
        // times as fast): that set runs those only on request, from tables.
        const bool sse2Floats = sizeof(T) == 4 && isa == Isa::kSse2;
        if (sse2Floats && sortedBlockFits(mask.width, mask.height) &&
            ((method == Method::kSortedColumns && count >= kNetworkLimit) ||
             (method == Method::kNetwork && count >= 49))) {
            method = Method::kSortedBlock;
        }
    }
    if ((method == Method::kNetwork || method == Method::kSortedColumns) &&
        count <= kMaxNetworkCount) {
        networkMedian<T>(job, isa, method);
    } else if (method == Method::kColumnHistogram && sizeof(T) == 1 &&
               count <= kMaxColumnHistogramCount) {
        columnHistogramMedian(job, isa);
    } else if (method == Method::kSortedBlock && sortedBlockFits(mask.width, mask.height)) {
        sortedBlockMedian<T>(job, isa);
    } else {
        histogramMedian<T>(job);
    }
    return kMedianOk;
}

#define MK_INSTANTIATE(T)                                                                        \
    template MedianKernelStatus fastMedian<T>(const T*, int32_t, T*, int32_t, MedianKernelSize,  \
                                              MedianKernelSize, MedianKernelPoint, Isa, Method); \
    template Method automaticMethod<T>(int, int);
MK_INSTANTIATE(uint8_t)
MK_INSTANTIATE(uint16_t)
MK_INSTANTIATE(int16_t)
MK_INSTANTIATE(float)
#undef MK_INSTANTIATE

}  // namespace mediankernels
