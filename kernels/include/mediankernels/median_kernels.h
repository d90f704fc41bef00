#pragma once

// Median filter kernels under their published names and signatures.
//
// Each output element (x, y), 0 <= x < dstRoi.width, 0 <= y < dstRoi.height,
// is the median of the mask.width x mask.height block of source elements
// whose anchor element is the source element (x, y). The source pointer
// points at the anchor of the first block, so the kernel also reads
// anchor.x elements before and mask.width - 1 - anchor.x after each line, and
// anchor.y lines above and mask.height - 1 - anchor.y below: that border
// must be readable. Steps are in bytes. Source and destination must not
// overlap.
//
// Median: the element of 0-based rank k / 2 among the k = mask.width *
// mask.height values in ascending order, which for an even k is the upper of
// the two middle values. For float data every NaN orders above +inf and
// -0 below +0; a NaN result is written as the canonical quiet NaN.
//
// Invalid arguments return a negative status and write nothing.

#include <stdint.h>

#define MEDIAN_KERNELS_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    int32_t width;
    int32_t height;
} MedianKernelSize;

typedef struct {
    int32_t x;
    int32_t y;
} MedianKernelPoint;

typedef int32_t MedianKernelStatus;

enum {
    kMedianOk = 0,
    kMedianNullPointer = -1,  // a source or destination pointer is null
    kMedianBadRegion = -2,    // a region extent is not positive
    kMedianBadMask = -3,      // a mask extent is not positive, or the mask is too large
    kMedianBadAnchor = -4,    // the anchor lies outside the mask
    kMedianBadStep = -5,      // a step is shorter than a line or not a whole number of elements
    kMedianMisaligned = -6    // a pointer is not aligned to the element type
};

MEDIAN_KERNELS_API MedianKernelStatus ippiFilterMedian_8u_C1R(const uint8_t* src, int32_t srcStep,
                                                              uint8_t* dst, int32_t dstStep,
                                                              MedianKernelSize dstRoi,
                                                              MedianKernelSize mask,
                                                              MedianKernelPoint anchor);
MEDIAN_KERNELS_API MedianKernelStatus ippiFilterMedian_16u_C1R(const uint16_t* src, int32_t srcStep,
                                                               uint16_t* dst, int32_t dstStep,
                                                               MedianKernelSize dstRoi,
                                                               MedianKernelSize mask,
                                                               MedianKernelPoint anchor);
MEDIAN_KERNELS_API MedianKernelStatus ippiFilterMedian_16s_C1R(const int16_t* src, int32_t srcStep,
                                                               int16_t* dst, int32_t dstStep,
                                                               MedianKernelSize dstRoi,
                                                               MedianKernelSize mask,
                                                               MedianKernelPoint anchor);
MEDIAN_KERNELS_API MedianKernelStatus ippiFilterMedian_32f_C1R(const float* src, int32_t srcStep,
                                                               float* dst, int32_t dstStep,
                                                               MedianKernelSize dstRoi,
                                                               MedianKernelSize mask,
                                                               MedianKernelPoint anchor);

#ifdef __cplusplus
}
#endif
