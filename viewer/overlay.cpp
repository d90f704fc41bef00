#include "overlay.h"

namespace ringview {

RgbImage composeOverlay(const Plane8& primaryRed, const GreyImage& marks,
                        std::uint64_t* contourPixels) {
    RgbImage out;
    out.width = primaryRed.width;
    out.height = primaryRed.height;
    out.pixels.resize(std::size_t{out.width} * out.height * 3);
    std::uint64_t coloured = 0;
    for (std::uint32_t y = 0; y < out.height; ++y) {
        const std::size_t markRow = std::size_t{out.height - 1 - y} * out.width;
        for (std::uint32_t x = 0; x < out.width; ++x) {
            const std::size_t i = std::size_t{y} * out.width + x;
            std::uint8_t* px = &out.pixels[i * 3];
            if (marks.values[markRow + x] == kContourMark) {
                px[0] = kContourColour.r;
                px[1] = kContourColour.g;
                px[2] = kContourColour.b;
                ++coloured;
            } else {
                px[0] = px[1] = px[2] = primaryRed.pixels[i];
            }
        }
    }
    if (contourPixels != nullptr) *contourPixels = coloured;
    return out;
}

}  // namespace ringview
