#include "primary_image.h"

#include <tiffio.h>

#include <memory>

#include "image_limits.h"
#include "tiff_errors.h"

namespace ringview {

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

}  // namespace

bool readRedPlane(const std::string& path, Plane8* plane, std::string* error) {
    TiffErrorCapture capture;
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        *error = "cannot read " + path + capture.suffix();
        return false;
    }
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    const std::uint64_t count = std::uint64_t{width} * height;
    if (count == 0 || count > kMaxPixels) {
        *error = path + " has an unusable size " + std::to_string(width) + " x " +
                 std::to_string(height);
        return false;
    }
    std::vector<std::uint32_t> raster(count);
    if (TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT,
                                  0) == 0) {
        *error = "cannot read " + path + capture.suffix();
        return false;
    }
    plane->width = width;
    plane->height = height;
    plane->pixels.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        plane->pixels[i] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
    }
    return true;
}

}  // namespace ringview
