#pragma once

// The plain median filter: copy each block, select its middle element. It
// is the yardstick that faster kernels are measured and tested against.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "argument_check.h"
#include "median_order.h"
#include "mediankernels/median_kernels.h"

namespace mediankernels {

template <typename T>
MedianKernelStatus referenceMedian(const T* src, int32_t srcStep, T* dst, int32_t dstStep,
                                   MedianKernelSize dstRoi, MedianKernelSize mask,
                                   MedianKernelPoint anchor) {
    const MedianKernelStatus status =
        checkArguments(src, srcStep, dst, dstStep, dstRoi, mask, anchor, sizeof(T));
    if (status != kMedianOk) return status;

    const auto* srcBytes = reinterpret_cast<const unsigned char*>(src);
    auto* dstBytes = reinterpret_cast<unsigned char*>(dst);
    std::vector<T> block(static_cast<std::size_t>(mask.width) * mask.height);
    const auto middle = block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2);
    const MedianOrder<T> order;

    for (std::ptrdiff_t y = 0; y < dstRoi.height; ++y) {
        T* out = reinterpret_cast<T*>(dstBytes + y * dstStep);
        for (std::ptrdiff_t x = 0; x < dstRoi.width; ++x) {
            auto next = block.begin();
            for (std::ptrdiff_t v = 0; v < mask.height; ++v) {
                const T* line = reinterpret_cast<const T*>(srcBytes + (y - anchor.y + v) * srcStep);
                const T* first = line + (x - anchor.x);
                next = std::copy(first, first + mask.width, next);
            }
            std::nth_element(block.begin(), middle, block.end(), order);
            out[x] = MedianOrder<T>::canonical(*middle);
        }
    }
    return kMedianOk;
}

}  // namespace mediankernels
