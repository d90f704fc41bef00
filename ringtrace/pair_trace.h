// Tracing a pair of rasters already in memory: the program's build, pricing, search and
// marking, without its files. The program reads its two TIFFs into rasters and calls this;
// callers that hold the pixels themselves (the Python package) call it directly and get
// exactly the program's result for the same pixels.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>

#include "contour_search.h"
#include "driver.h"

namespace ringtrace {

// Thrown by traceRasters once its cancellation flag has been raised.
class traceCancelled : public std::runtime_error {
public:
    traceCancelled() : std::runtime_error("trace cancelled") {}
};

// Traces the pair. The rasters hold width x height words each, bottom row first, packed as
// readInputs leaves them (red in bits 0-7, green 8-15, blue 16-23). Fills `report` afresh
// but for its status (left as it was), and `marks` (width x height bytes, top row first):
// 160 on the contour's marked pixels, 120 elsewhere, i.e. "new.tif" before its rows are
// mirrored. With null `marks` only the report is filled (its contour is all a writer of
// "new.tif" needs, see writeContour).
//
// `cancel`, when given, is read between the phases, once per column of the cost pass,
// every 65536 nodes of the shortest-path work and at every iteration of the search: once it
// is true the call ends by throwing traceCancelled. `progress` is the search's progress
// callback. `rastersDone`, when given, is called once nothing reads the rasters any more
// (the search keeps the red components it needs), so that a caller that owns them can give
// their memory back before the search. Also throws std::bad_alloc when memory runs out;
// nothing leaks.
void traceRasters(const uint32_t* primaryRaster, const uint32_t* secondaryRaster, int32_t width, int32_t height,
                  tracerReport& report, uint8_t* marks, const std::atomic<bool>* cancel = nullptr,
                  const progressCallback& progress = nullptr, const std::function<void()>& rastersDone = nullptr);

}  // namespace ringtrace
