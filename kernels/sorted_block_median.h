#pragma once

// The block-sorting median for 16-bit and float data and large windows.
//
// The output is cut into blocks; each block's source region (the block grown
// by the mask) is sorted once, and every element is replaced by its rank in
// that order, a number below 65536. The window then slides over the block in
// a snake, one line of elements in and one out per step, as a bit set of the
// ranks it holds; the median is the set bit with exactly count / 2 set bits
// below it, found by walking from the previous median a word at a time. The
// cost per output is a few operations per element that enters or leaves,
// plus the block's sort shared by all its outputs, and no longer depends on
// how the values are spread.
//
// sorted_block_median_isa.cpp is compiled once per instruction set (bit
// counts and bit selection gain most); isa_kernels.h declares its builds.

#include <cstddef>
#include <cstdint>

namespace mediankernels {

// Most elements a block's region holds: ranks and positions are 16-bit.
inline constexpr int kMaxBlockElements = 65536;

// Buffers for one run, sized for `regionElements` (see blockRegionElements).
struct SortedBlockBuffers {
    uint64_t* items;     // regionElements, sorted in place
    uint64_t* spare;     // regionElements, the sort's other half
    uint32_t* keyOfRank; // regionElements
    uint16_t* rankAt;    // regionElements + kRankPadding
    uint64_t* bits;      // 2 * bitWords(regionElements): two windows
};

// Ranks are read a whole vector at a time, up to this many past the end.
inline constexpr int kRankPadding = 64;

// Zero words on either side of the rank bits, for reads around the median.
inline constexpr int kBitPadding = 8;
constexpr int bitWords(int elements) { return elements / 64 + 1 + 2 * kBitPadding; }

// Elements a block's region holds for this window: about kBlockElements
// (cache-sized), more for windows so large that blocks would be tiny.
int blockRegionElements(int maskWidth, int maskHeight);

}  // namespace mediankernels
