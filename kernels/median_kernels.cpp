#include "mediankernels/median_kernels.h"

#include "fast_median.h"

using mediankernels::fastMedian;
using mediankernels::preferredIsa;

MedianKernelStatus ippiFilterMedian_8u_C1R(const uint8_t* src, int32_t srcStep, uint8_t* dst,
                                           int32_t dstStep, MedianKernelSize dstRoi,
                                           MedianKernelSize mask, MedianKernelPoint anchor) {
    return fastMedian(src, srcStep, dst, dstStep, dstRoi, mask, anchor, preferredIsa());
}

MedianKernelStatus ippiFilterMedian_16u_C1R(const uint16_t* src, int32_t srcStep, uint16_t* dst,
                                            int32_t dstStep, MedianKernelSize dstRoi,
                                            MedianKernelSize mask, MedianKernelPoint anchor) {
    return fastMedian(src, srcStep, dst, dstStep, dstRoi, mask, anchor, preferredIsa());
}

MedianKernelStatus ippiFilterMedian_16s_C1R(const int16_t* src, int32_t srcStep, int16_t* dst,
                                            int32_t dstStep, MedianKernelSize dstRoi,
                                            MedianKernelSize mask, MedianKernelPoint anchor) {
    return fastMedian(src, srcStep, dst, dstStep, dstRoi, mask, anchor, preferredIsa());
}

MedianKernelStatus ippiFilterMedian_32f_C1R(const float* src, int32_t srcStep, float* dst,
                                            int32_t dstStep, MedianKernelSize dstRoi,
                                            MedianKernelSize mask, MedianKernelPoint anchor) {
    return fastMedian(src, srcStep, dst, dstStep, dstRoi, mask, anchor, preferredIsa());
}
