// Drawing the accepted contour and writing "new.tif".
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "grid_graph.h"

namespace ringtrace {

inline constexpr float BACKGROUND_MARK = 120.0f;
inline constexpr float CONTOUR_MARK = 160.0f;
inline constexpr int MAX_MARKS = 10000;
// BlackIsZero: the two grey levels read as the same greys in every viewer.
inline constexpr uint16_t OUTPUT_PHOTOMETRIC = PHOTOMETRIC_MINISBLACK;

// A pixel of the contour: column x, row y counted from the top of the input images.
struct contourPixel {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const contourPixel&) const = default;
};

// Marks the contour in the mark buffer (top row first, index y * width + x) by walking
// `pred` back from the sink terminal. The node that enters the sink and the terminals stay
// unmarked; at most MAX_MARKS pixels are marked, the ones nearest the sink. Returns the
// number of pixels marked. `marked`, when given, receives the marked pixels in the order of
// the walk (from the sink end to the source end). With a null mark buffer only `marked`
// is filled.
int markContour(const pixelGrid& grid, const ringgraph::node_array<edge>& pred, float* markBuffer,
                std::vector<contourPixel>* marked = nullptr);

// The same marks from a path given as its edges from the sink back to the source (a
// record's path): exactly what markContour gives for a predecessor array holding that path.
int markPath(const pixelGrid& grid, const std::vector<edge>& path, float* markBuffer,
             std::vector<contourPixel>* marked = nullptr);

// Byte i = low 8 bits of the truncated ceiling of mark i.
void convertMarks(const float* markBuffer, uint8_t* byteBuffer, size_t count);

// Sets the output tags and writes the byte buffer (top row first) mirrored top to bottom,
// one row per strip. Stops at the first row that fails and returns false then.
bool writeMirrored(TIFF* out, const uint8_t* byteBuffer, int32_t width, int32_t height);

// Writes exactly what writeMirrored writes for the byte buffer of these marks (160 at the
// contour's pixels, 120 everywhere else), each row made as it is written: no image-sized
// buffer is filled, converted and copied.
bool writeContour(TIFF* out, const std::vector<contourPixel>& contour, int32_t width, int32_t height);

// About the size of the file writeContour makes: one byte a pixel, a strip entry per row
// and the directory (a hint for the memory it is written into).
inline size_t contourFileBytes(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) + 16 * static_cast<size_t>(height) + 4096;
}

}  // namespace ringtrace
