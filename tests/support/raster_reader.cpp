#include <tiffio.h>

#include "tiff_fixtures.h"

namespace fixtures {

bool readRgbaRaster(const std::string& path, std::uint32_t* width, std::uint32_t* height,
                    std::vector<std::uint32_t>* raster) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return false;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    raster->assign(std::size_t{w} * h, 0);
    const int ok = TIFFReadRGBAImage(t, w, h, raster->data(), 1);
    TIFFClose(t);
    *width = w;
    *height = h;
    return ok != 0;
}

}  // namespace fixtures
