#pragma once

// The median kernels' front: checks the arguments, then picks the method
// for the window size and element type.

#include "isa_kernels.h"
#include "mediankernels/median_kernels.h"

namespace mediankernels {

enum class Method {
    kAuto,             // the fastest for this window and type
    kNetwork,          // selection network, up to kMaxNetworkCount elements
    kSortedColumns,    // sorted columns, masks hasSortedColumnNetwork takes (others: kNetwork)
    kHistogram,        // running histogram
    kColumnHistogram,  // per-column histograms, bytes only (others: kHistogram)
    kSortedBlock,      // sorted blocks, masks sortedBlockFits takes (others: kHistogram)
};

inline constexpr int kMaxNetworkCount = 1024;

template <typename T>
MedianKernelStatus fastMedian(const T* src, int32_t srcStep, T* dst, int32_t dstStep,
                              MedianKernelSize dstRoi, MedianKernelSize mask,
                              MedianKernelPoint anchor, Isa isa, Method method = Method::kAuto);

// The method kAuto takes for a mask of this size.
template <typename T>
Method automaticMethod(int maskWidth, int maskHeight);

}  // namespace mediankernels
