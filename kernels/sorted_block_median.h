#pragma once

// The block-sorting median for 16-bit and float data and large windows.
//
// The output is cut into blocks; each block's source region (the block grown
// by the mask) is sorted once, which gives every element its rank there, a
// number below 65536, and every rank its element's position. Ranks fall into
// kBins equal ranges ("bins"), and the bins are run through the byte median's
// constant-time column histograms (column_histogram_window.h), which find the
// bin holding the median. That bin has only 64 to 256 ranks; the window's
// among them are told apart by their positions, 64 at a time with vector
// compares. The cost per output does not grow with the window, nor depend on
// how the values are spread.
//
// sorted_block_median_isa.cpp is compiled once per instruction set;
// isa_kernels.h declares its builds.

#include <cstddef>
#include <cstdint>

#include "column_histogram_median.h"
#include "median_job.h"

namespace mediankernels {

// Most elements a block's region holds: ranks and positions are 16-bit.
inline constexpr int kMaxBlockElements = 65536;
// Rank ranges in a block: the byte histograms' bins.
inline constexpr int kBins = 256;
// Positions are read a whole group at a time, up to this many past the end.
inline constexpr int kPositionPadding = 512;

// How a job is cut into blocks, in slide coordinates: u runs along the slide,
// v across it, and a step along u changes one line of maskV elements.
struct SortedBlockPlan {
    int outU, outV, maskU, maskV;
    std::ptrdiff_t srcU, srcV, dstU, dstV;  // bytes per step
    int regionElements;                     // most elements of a block's region
    int blockU, blockV;                     // outputs of a full block
    int binShift;                           // a rank's bin is rank >> binShift
    int regionU() const { return blockU + maskU - 1; }
};

// Whether the method takes this mask: fewer than kMaxBlockElements elements
// and neither extent beyond a few thousand.
bool sortedBlockFits(int maskWidth, int maskHeight);

SortedBlockPlan planSortedBlocks(const MedianJob& job, std::ptrdiff_t elementSize);

// Buffers for one run of a plan.
struct SortedBlockBuffers {
    uint64_t* items;      // regionElements, sorted in place
    uint64_t* spare;      // regionElements, the sort's other half
    uint32_t* keyOfRank;  // regionElements
    uint16_t* positionU;  // regionElements + kPositionPadding
    uint16_t* positionV;  // regionElements + kPositionPadding
    uint8_t* binAt;       // regionElements, v-major: along the slide
    uint8_t* lines;       // regionU() * kColumnBytes, 64-byte aligned
};

}  // namespace mediankernels
