// The contour as comma-separated values, for spreadsheets and plotting tools.
#pragma once

#include <string>

#include "driver.h"

namespace ringtrace::cli {

// A header line "column,row", then one "column,row" line per marked pixel, rows counted
// from the top of the inputs, from the sink end to the source end (the order of the
// summary's contour). Only the header when no contour was accepted.
std::string contourCsv(const tracerReport& report);

}  // namespace ringtrace::cli
