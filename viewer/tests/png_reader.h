#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testpng {

struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int channels = 0;  // 1 grey, 3 RGB, as stored in the file
    std::vector<std::uint8_t> pixels;
};

// Reads an 8-bit grey or RGB PNG as stored (no conversion). False when the file is
// missing, not a PNG, or of another kind.
bool readPng(const std::string& path, Picture* picture);

}  // namespace testpng
