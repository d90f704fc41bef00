#pragma once

// The constant-time median for bytes: every source column keeps a 256-bin
// histogram of the mask-height lines under the current output line, and the
// window's histogram moves one column along the line by adding the entering
// column's histogram and subtracting the leaving one's. Both carry 16
// cumulative coarse counts; the window's fine bins follow only for the two
// coarse bins around the median. Counts are 16-bit: windows of up to 65535
// elements.
//
// column_histogram_median_isa.cpp is compiled once per instruction set, like
// the network kernels; isa_kernels.h declares its builds.

namespace mediankernels {

// 256 fine bins, 16 cumulative coarse counts, padding to a multiple of 64 bytes.
inline constexpr int kColumnBins = 288;
inline constexpr int kMaxColumnHistogramCount = 65535;
// Outputs along a line that one pass of column histograms serves.
inline constexpr int kColumnHistogramStrip = 256;

}  // namespace mediankernels
