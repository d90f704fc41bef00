#pragma once

// The constant-time median for bytes: every source column keeps a 256-bin
// histogram of the mask-height lines under the current output line, and the
// window's histogram moves one column along the line by adding the entering
// column's histogram and subtracting the leaving one's (see
// column_histogram_window.h). Column counts are 8-bit (masks of up to 255
// lines; taller masks slide across the lines instead), the window's 16-bit:
// windows of up to 65535 elements.
//
// column_histogram_median_isa.cpp is compiled once per instruction set, like
// the network kernels; isa_kernels.h declares its builds.

#include <cstddef>

namespace mediankernels {

// A column's bytes: 256 fine counts and 16 coarse ones.
inline constexpr int kColumnBytes = 272;
// Most lines a column counts.
inline constexpr int kMaxColumnLines = 255;
inline constexpr int kMaxColumnHistogramCount = 65535;
// Outputs along a line that one pass of column histograms serves.
inline constexpr int kColumnHistogramStrip = 512;

// Bytes of column histograms for `outputs` outputs along the slide of a mask
// `maskColumns` long in that direction.
constexpr std::size_t columnHistogramBytes(int outputs, int maskColumns) {
    const int strip = outputs < kColumnHistogramStrip ? outputs : kColumnHistogramStrip;
    return static_cast<std::size_t>(strip + maskColumns - 1) * kColumnBytes;
}

// Whether the byte median slides across the lines: masks of more lines than
// a column counts (they are then at most 255 wide).
constexpr bool columnHistogramAcross(int maskHeight) { return maskHeight > kMaxColumnLines; }

}  // namespace mediankernels
