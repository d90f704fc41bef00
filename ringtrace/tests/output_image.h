// Reading "new.tif" back for the tests.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ringtrace::testing {

struct greyImage {
    uint32_t width = 0, height = 0;
    uint16_t samples = 0, bits = 0, photometric = 0, orientation = 0;
    uint32_t rowsPerStrip = 0;
    std::vector<uint8_t> pixels;  // file order, row 0 first
    uint32_t rowsRead = 0;
    uint8_t at(uint32_t x, uint32_t row) const { return pixels[row * width + x]; }
};

inline bool readGrey(const std::string& path, greyImage& img) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return false;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &img.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &img.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &img.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &img.bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &img.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &img.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &img.rowsPerStrip);
    img.pixels.assign(static_cast<size_t>(img.width) * img.height, 0);
    for (uint32_t r = 0; r < img.height; ++r) {
        if (TIFFReadScanline(tif, img.pixels.data() + static_cast<size_t>(r) * img.width, r, 0) < 0) break;
        img.rowsRead = r + 1;
    }
    TIFFClose(tif);
    return true;
}

}  // namespace ringtrace::testing
