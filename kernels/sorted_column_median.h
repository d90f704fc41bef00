#pragma once

// The sorted-column median for small and mid-sized windows: along each output
// line, every source column under the window is sorted once (a vector of
// neighbouring columns at a time) into a small buffer, and each output then
// selects its median from its window's sorted columns with the network of
// sorted_column_network.h, a vector of neighbouring outputs at a time. The
// region is done in strips of chunks so that the buffer stays in the
// first-level cache. Floats are turned into ordered keys on the way in, once
// per element.
//
// sorted_column_median_isa.cpp is compiled once per instruction set, like the
// network kernels; isa_kernels.h declares its builds.

#include <cstddef>

namespace mediankernels {

// Window shapes whose networks are compiled in.
struct MaskShape {
    int width, height;
};
inline constexpr MaskShape kSortedColumnShapes[] = {{3, 3}, {5, 5}, {7, 7}, {9, 9}};

constexpr bool hasSortedColumnNetwork(int maskWidth, int maskHeight) {
    for (const MaskShape& s : kSortedColumnShapes) {
        if (s.width == maskWidth && s.height == maskHeight) return true;
    }
    return false;
}

// Outputs of a chunk, and the bytes of one line of a chunk's columns (for
// elements of at most four bytes), 64-byte aligned. The scratch holds the
// sorted columns and, for floats, their keys.
inline constexpr int kSortedColumnChunk = 256;
constexpr std::size_t sortedColumnRowBytes(int maskWidth) {
    return (static_cast<std::size_t>(kSortedColumnChunk + maskWidth - 1) * 4 + 63) / 64 * 64;
}
constexpr std::size_t sortedColumnScratchBytes(int maskWidth, int maskHeight) {
    return sortedColumnRowBytes(maskWidth) * static_cast<std::size_t>(maskHeight) * 2;
}

}  // namespace mediankernels
