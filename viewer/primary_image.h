#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ringview {

// One byte per pixel, top row first.
struct Plane8 {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// The red component of any image libtiff can convert to RGBA, in the image's own
// top-down orientation. On failure returns false and says why in *error.
bool readRedPlane(const std::string& path, Plane8* plane, std::string* error);

}  // namespace ringview
