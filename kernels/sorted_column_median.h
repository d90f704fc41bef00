#pragma once

// The sorted-column median for small and mid-sized windows: along each output
// line, every source column under the window is sorted once (a vector of
// neighbouring columns at a time) into a small buffer, and each output then
// selects its median from its window's sorted columns with the network of
// sorted_column_network.h, a vector of neighbouring outputs at a time. The
// lines are done in chunks so that the buffer stays in the first-level
// cache. Floats are turned into ordered keys on the way in, once per element.
// Vector builds take the 3 x 3 window to median3x3.h, which keeps its sorted
// columns in registers; the one-lane build beside vector builds serves only
// regions narrower than a vector and runs the network tables in loops.
//
// sorted_column_median_isa.cpp is compiled once per instruction set, like the
// network kernels; isa_kernels.h declares its builds.

#include <cstddef>

namespace mediankernels {

// Window shapes whose networks are compiled in.
struct MaskShape {
    int width, height;
};
inline constexpr MaskShape kSortedColumnShapes[] = {{3, 3}, {5, 5}, {7, 7}, {9, 9}, {11, 11},
                                                   {4, 4}, {3, 5}, {5, 3}, {3, 7}, {7, 3}};
inline constexpr std::size_t kSortedColumnShapeCount =
    sizeof kSortedColumnShapes / sizeof kSortedColumnShapes[0];

constexpr bool hasSortedColumnNetwork(int maskWidth, int maskHeight) {
    for (const MaskShape& s : kSortedColumnShapes) {
        if (s.width == maskWidth && s.height == maskHeight) return true;
    }
    return false;
}

// The bytes of one line of a chunk's columns, whatever the element size; a
// chunk takes that many bytes of source columns (a whole number of vectors)
// and yields as many outputs as they hold windows, less a vector.
inline constexpr int kSortedColumnLineBytes = 1024;
// Lines of the scratch lie this far apart: a power of two would put them all
// in the same few sets of the first-level cache.
inline constexpr int kSortedColumnLineStride = kSortedColumnLineBytes + 64;

// Bytes between the lines of float keys for a region `width` outputs wide.
constexpr std::size_t sortedColumnKeyStride(int width, int maskWidth) {
    return (static_cast<std::size_t>(width + maskWidth - 1) * 4 + 63) / 64 * 64 + 64;
}

// The scratch: the sorted columns of a chunk and, for floats, the keys of
// the last maskHeight source lines.
constexpr std::size_t sortedColumnScratchBytes(int width, int maskWidth, int maskHeight,
                                               bool floats) {
    const auto lines = static_cast<std::size_t>(maskHeight);
    return kSortedColumnLineStride * lines +
           (floats ? sortedColumnKeyStride(width, maskWidth) * lines : 0);
}

}  // namespace mediankernels
