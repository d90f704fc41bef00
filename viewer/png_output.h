#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ringview {

// Writes an 8-bit PNG, grey (channels 1) or RGB (channels 3), pixels interleaved and
// top row first. The picture goes to a temporary file beside path that is renamed
// over path only once it is complete, so a failure never leaves a partial file at
// path. On failure returns false and says why in *error.
bool writePngAtomically(const std::string& path, std::uint32_t width, std::uint32_t height,
                        int channels, const std::vector<std::uint8_t>& pixels, std::string* error);

}  // namespace ringview
