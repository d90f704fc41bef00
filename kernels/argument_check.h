#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "mediankernels/median_kernels.h"

namespace mediankernels {

// Rejects every argument combination that would make a kernel read or write
// outside the lines it was given.
inline MedianKernelStatus checkArguments(const void* src, int32_t srcStep, const void* dst,
                                         int32_t dstStep, MedianKernelSize dstRoi,
                                         MedianKernelSize mask, MedianKernelPoint anchor,
                                         std::size_t elementSize) {
    if (src == nullptr || dst == nullptr) return kMedianNullPointer;
    if (reinterpret_cast<std::uintptr_t>(src) % elementSize != 0 ||
        reinterpret_cast<std::uintptr_t>(dst) % elementSize != 0) {
        return kMedianMisaligned;
    }
    if (dstRoi.width <= 0 || dstRoi.height <= 0) return kMedianBadRegion;
    if (mask.width <= 0 || mask.height <= 0) return kMedianBadMask;
    if (static_cast<int64_t>(mask.width) * mask.height > std::numeric_limits<int32_t>::max()) {
        return kMedianBadMask;
    }
    if (anchor.x < 0 || anchor.x >= mask.width || anchor.y < 0 || anchor.y >= mask.height) {
        return kMedianBadAnchor;
    }
    const auto size = static_cast<int64_t>(elementSize);
    const int64_t sourceLine = (static_cast<int64_t>(dstRoi.width) + mask.width - 1) * size;
    const int64_t destinationLine = static_cast<int64_t>(dstRoi.width) * size;
    if (srcStep < sourceLine || dstStep < destinationLine || srcStep % size != 0 ||
        dstStep % size != 0) {
        return kMedianBadStep;
    }
    return kMedianOk;
}

}  // namespace mediankernels
