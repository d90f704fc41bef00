#pragma once

// Reading single-channel TIFF images as plain numbers, whatever their sample type.

#include <cstdint>
#include <string>
#include <vector>

namespace ringview {

enum class SampleKind { Unsigned, Signed, Float };

struct GreyImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SampleKind kind = SampleKind::Unsigned;
    std::uint16_t bits = 8;
    bool minIsWhite = false;     // PhotometricInterpretation 0: larger values are darker
    std::vector<double> values;  // width * height, top row first as stored
};

// Reads a one-sample-per-pixel, strip-organised TIFF of 8, 16, 32 or 64 bits per
// sample. On failure returns false and says why in *error.
bool readGreyTiff(const std::string& path, GreyImage* image, std::string* error);

}  // namespace ringview
