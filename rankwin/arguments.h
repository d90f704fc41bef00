#pragma once

#include <cstdint>

#include "median_filter.h"

class hvArray;

namespace rankwin {

// The checks the entry point makes before it creates anything, so that no
// kernel ever runs outside the arrays it was given. Each raises its own host
// error.

// The image must be real and two-dimensional.
void checkImage(const hvArray& image);

// Reads [m n] from a real array of at least two doubles, truncating toward
// zero, and requires 1 <= m <= rows and 1 <= n <= columns.
Window readWindow(const hvArray& window, std::uint64_t rows, std::uint64_t columns);

}  // namespace rankwin
