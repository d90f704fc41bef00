#pragma once

#include <cstdint>

namespace rankwin {

// The published median kernel signature: sizes and points travel by value
// as pairs of 32-bit integers, steps are in bytes, the result is a status.
struct KernelSize {
    std::int32_t width;
    std::int32_t height;
};

struct KernelPoint {
    std::int32_t x;
    std::int32_t y;
};

using KernelStatus = std::int32_t;

template <typename T>
using MedianKernel = KernelStatus (*)(const T* src, std::int32_t srcStep, T* dst,
                                      std::int32_t dstStep, KernelSize dstRoi, KernelSize mask,
                                      KernelPoint anchor);

}  // namespace rankwin
