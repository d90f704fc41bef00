// The JSON summary of a run: what was read, how the search went, and the contour.
#pragma once

#include <string>

#include "driver.h"

namespace ringtrace::cli {

// A JSON object, one member a line, in this order:
//   version, width, height, status, meaning, outcome ("accepted", "exhausted" or
//   "cut short"), iterations, evaluations, shortestPathRuns, then for an accepted contour
//   interval ([lo, hi]), pathCost, rowSum, entryRow, exitRow, dispersion, secondaryMean
//   (null otherwise), and markedPixels and contour ([column, row] pairs, rows counted from
//   the top of the inputs, from the sink end to the source end; the pixels that are 160 in
//   "new.tif", whose rows are mirrored).
std::string summaryJson(const tracerReport& report);

// The outcome's name in the summary.
const char* outcomeName(const searchResult& search);

}  // namespace ringtrace::cli
