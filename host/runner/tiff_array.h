#pragma once

// Single-channel TIFF images as host arrays: image row i, column j is array
// element (i, j). Each sample type has its own class id, so that an
// extension sees exactly what the file holds.

#include <string>

#include "hv/host.h"

namespace hvhost {

// How image rows become array columns and back: in cache-friendly tiles, or element
// by element (the reference the tests and benchmarks compare with).
enum class Conversion { fast, plain };

// Throws std::runtime_error for an unreadable file, more than one sample per
// pixel, tiles, or a sample type without a class.
hv::ArrayPtr readTiff(const std::string& path, Conversion conversion = Conversion::fast);

// Writes through a temporary file beside `path`, so that a failed write
// leaves no file behind. Throws std::runtime_error.
void writeTiff(const std::string& path, const hvArray& array,
               Conversion conversion = Conversion::fast);

}  // namespace hvhost
