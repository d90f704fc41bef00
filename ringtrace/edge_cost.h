// Pricing the grid edges from the two images.
//
// An edge's cost is a step weight divided by the product of three factors: how well the
// step follows the orientation field (primary green/blue, offset by 64), how bright the
// primary red is at its two ends, and how strong the secondary red support is there. The
// quotient is rounded up and capped at 2000; diagonal-ish steps then pay one more per row
// they change, and a quotient that is not positive costs 0. Costs run from 0 to 2001.
//
// The rounding is part of the definition: reals are held in single precision between
// steps, every operation is evaluated in double precision from the exactly widened
// operands, and sqrt/floor/ceil/fabs work in single precision. This file must be compiled
// without fused multiply-add contraction and without fast-math.
#pragma once

#include <atomic>
#include <cstdint>

#include "edge_cost_column.h"
#include "grid_graph.h"

namespace ringtrace {

inline constexpr int ORIENTATION_OFFSET = 64;
inline constexpr int AXIS_STEP_WEIGHT = 340;
inline constexpr int UNIT_STEP_WEIGHT = 480;
inline constexpr int OTHER_STEP_WEIGHT = 760;
inline constexpr int COST_CAP = 2000;

// Non-negative remainder of a modulo b for the integral operands that occur (|a| < 2^24, b > 0).
int posMod(float a, float b);

// Cost of the grid edge from pixel (xs, ys) to pixel (xt, yt) of a width x height grid,
// from the raster words of its two ends.
int gridEdgeCost(uint32_t primaryTail, uint32_t primaryHead, uint32_t secondaryTail,
                 uint32_t secondaryHead, int32_t xs, int32_t ys, int32_t xt, int32_t yt,
                 int32_t width, int32_t height);

// One pass over every edge of the grid: grid edges get their cost, terminal edges keep theirs.
// `stop`, when given, is read once per column: once it is true the pass ends early, leaving
// the costs incomplete (for a caller that abandons the trace).
void priceGridEdges(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                    const std::atomic<bool>* stop = nullptr);
// The same with the given column pricer (the plain one is the reference for the others).
void priceGridEdges(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                    columnPricer pricer, const std::atomic<bool>* stop = nullptr);

}  // namespace ringtrace
