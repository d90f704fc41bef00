// Reading the two input images into RGBA rasters.
//
// A raster holds width x height 32-bit words, bottom image row first; a word carries red in
// bits 0-7, green in 8-15, blue in 16-23 and alpha in 24-31.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>

namespace ringtrace {

// Largest image the tracer takes on. The graph costs a few hundred bytes per pixel, so this
// keeps a run within a few gigabytes and every index within 32-bit arithmetic.
inline constexpr int64_t kMaxPixels = int64_t{1} << 25;

// Why an image of width x height pixels cannot be traced (more than kMaxPixels pixels, or
// fewer than 3 columns with 7 or more rows); empty when it can. A size of 0 is the
// caller's to reject (a file without a size is an unread image, not a refused one).
std::string sizeRefusal(int64_t width, int64_t height);

// Raster index of the pixel in column x and row y (y counted from the top).
inline int32_t rasterIndex(int32_t x, int32_t y, int32_t width, int32_t height) {
    return (height - 1 - y) * width + x;
}
inline uint8_t redOf(uint32_t word) { return static_cast<uint8_t>(word & 0xffu); }
inline uint8_t greenOf(uint32_t word) { return static_cast<uint8_t>((word >> 8) & 0xffu); }
inline uint8_t blueOf(uint32_t word) { return static_cast<uint8_t>((word >> 16) & 0xffu); }

struct inputImages {
    TIFF* primary = nullptr;
    TIFF* secondary = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t* primaryRaster = nullptr;
    uint32_t* secondaryRaster = nullptr;
    // Which of the two images were read in full (for callers that name the file at fault).
    bool primaryRead = false;
    bool secondaryRead = false;
};

enum class inputStatus {
    read,        // both images read
    readFailed,  // an image could not be read; the rasters hold what could be (zero elsewhere)
    noImage,     // the primary image could not be opened: there is no size to work with
    refused,     // the primary image's size cannot be traced; see the message
};

// Opens and reads both images. On `read` and `readFailed` the handles that opened and both
// rasters are left in `in` for the later phases (which release them); on `noImage` and
// `refused` nothing is left open and `message` says why when there is more to say.
//
// Decoding follows one rule for every file: the reader is told that each pixel has three
// samples and no extra sample, so it always delivers plain RGB. Files that really carry
// four or more samples keep their count (forcing three would read them at the wrong
// stride); only their extra samples are dropped, so alpha is ignored, never applied.
//
// A secondary image of another size than the primary counts as a failed read: its
// overlap with the primary, aligned at the top-left corner, is used and the rest is zero.
inputStatus readInputs(const char* primaryPath, const char* secondaryPath, inputImages& in,
                       std::string& message);

// Reads one image of a known size into `raster` (width x height words) with the decoding
// rule above. Returns libtiff's verdict (non-zero on success).
int readRaster(TIFF* tif, int32_t width, int32_t height, uint32_t* raster);

// Gives both rasters back and leaves null pointers behind (the handles stay open). The
// rasters are not libtiff's memory: release them here, never with _TIFFfree. A trace
// calls this once the search has what it needs of them, so that their pages do not stay
// resident through the search.
void releaseRasters(inputImages& in);

}  // namespace ringtrace
