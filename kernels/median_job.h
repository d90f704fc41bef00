#pragma once

// One filtering request after its arguments were checked, with the source
// moved from the anchor to the top-left element of the first block.

#include <cstddef>
#include <cstdint>

#include "selection_network.h"

namespace mediankernels {

struct MedianJob {
    const unsigned char* origin;  // first element of the first block
    std::ptrdiff_t srcStep;       // bytes between source lines
    unsigned char* dst;
    std::ptrdiff_t dstStep;  // bytes between destination lines
    int width, height;       // destination region
    int maskWidth, maskHeight;
};

// Float data as the network kernels read it: each float's bits as a signed
// integer with the magnitude bits flipped for negative values, after every
// NaN became the canonical quiet NaN. Integer order on these keys is the
// median order (all NaNs tie above +inf, -0 below +0), and the kernels
// write the float that a selected key stands for.
struct OrderedFloat {
    int32_t key;
};

// A selection network chosen at run time, for counts above the compiled-in ones.
struct RuntimeNetwork {
    const Comparator* comparators;
    int size;
};

// Window sizes whose networks are compiled in, fully unrolled: every count up
// to kMaxFixedNetwork, and the 7 x 7 and 9 x 9 squares (larger ones spill so
// much that unrolling stops paying).
inline constexpr int kMaxFixedNetwork = 25;
inline constexpr int kLargerFixedNetworks[] = {49, 81};

// Writes the byte offsets of a window's elements from its top-left one, line
// by line, for elements `elementBytes` wide and `job.srcStep` bytes apart, as
// the network kernels take them: maskWidth * maskHeight of them. Defined
// once, in the baseline build (an inline copy compiled for a wider
// instruction set could be the one linked). Written into the caller's
// storage, so that this header, read by every kernel file of every
// instruction set, does without <vector>.
void windowOffsets(const MedianJob& job, std::ptrdiff_t elementBytes, std::ptrdiff_t* offsets);

constexpr bool hasFixedNetwork(int count) {
    if (count >= 1 && count <= kMaxFixedNetwork) return true;
    for (int fixed : kLargerFixedNetworks) {
        if (count == fixed) return true;
    }
    return false;
}

}  // namespace mediankernels
