#pragma once

#include <cstdint>
#include <vector>

#include "grey_image.h"

namespace ringview {

// Maps samples to 8-bit grey for viewing. Unsigned 8-bit samples are kept as they
// are, so that pictures of the same kind stay comparable with each other. Every other
// type is stretched linearly so that its smallest finite value becomes 0 and its
// largest 255; a flat image becomes 0. NaN and -inf become 0, +inf 255. A min-is-white
// image is inverted afterwards, so it looks as its writer meant.
std::vector<std::uint8_t> toDisplayGrey(const GreyImage& image);

}  // namespace ringview
