#pragma once

#include <cstdint>
#include <vector>

#include "grey_image.h"
#include "primary_image.h"

namespace ringview {

// The value the tracer gives contour pixels in its result image.
inline constexpr double kContourMark = 160.0;

struct Rgb {
    std::uint8_t r, g, b;
};
// Pure red never occurs in a grey picture, so every coloured pixel is a contour pixel.
inline constexpr Rgb kContourColour{255, 0, 0};

// Interleaved 8-bit RGB, top row first.
struct RgbImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// The primary image's red plane as grey, with every pixel whose mark is 160 in
// kContourColour. The tracer writes its result upside down, so mark row r belongs to
// picture row height - 1 - r. Both images must have the same size.
RgbImage composeOverlay(const Plane8& primaryRed, const GreyImage& marks,
                        std::uint64_t* contourPixels = nullptr);

}  // namespace ringview
