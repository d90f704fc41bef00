#pragma once

#include <cstdint>
#include <string>

namespace ringgen {

// Writes an uncompressed, contiguous 8-bit RGB TIFF, top row first (Orientation 1).
// rgb holds width * height * 3 bytes.
bool writeRgb8Tiff(const std::string& path, int width, int height, const std::uint8_t* rgb,
                   std::string* error);

}  // namespace ringgen
