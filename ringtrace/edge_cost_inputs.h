// Preparing the pricing pass's per-pixel inputs for a group of sixteen columns straight
// from the raster words, in vectors: the signed red bytes of both images widened to int,
// and the unit orientation (green, blue), exactly as unitOrientation works it out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ringtrace {

// Where the group's inputs go: column k's red at red0 + k * columnStep + y, its support
// intStride further on; its green at green0 + k * columnStep + y, its blue realStride
// further on.
struct groupInputs {
    int32_t* red0;
    float* green0;
    size_t intStride, realStride;
    size_t intColumnStep, realColumnStep;
};

// Fills the rows 0 .. 16 * floor(H / 16) - 1 of columns g0 .. g0 + 15 (all inside the
// image) and returns how many rows it filled; the caller prepares the rest.
using groupPreparer = int32_t (*)(const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                                  int32_t W, int32_t H, int32_t g0, const groupInputs& out);

// The vector preparer this build holds and this processor runs, or nullptr.
groupPreparer vectorGroupPreparer();

}  // namespace ringtrace
