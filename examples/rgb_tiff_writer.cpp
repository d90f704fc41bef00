#include "rgb_tiff_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace ringgen {

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

}  // namespace

bool writeRgb8Tiff(const std::string& path, int width, int height, const std::uint8_t* rgb,
                   std::string* error) {
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) {
        if (error) *error = "cannot open " + path + " for writing";
        return false;
    }
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    // libtiff may work on the buffer it is given, so each row goes through a copy.
    std::vector<std::uint8_t> row(rowBytes);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = rgb + static_cast<std::size_t>(y) * rowBytes;
        std::copy(src, src + rowBytes, row.begin());
        if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) {
            if (error) *error = "write error in " + path;
            return false;
        }
    }
    if (!TIFFWriteDirectory(t)) {
        if (error) *error = "cannot finish " + path;
        return false;
    }
    return true;
}

}  // namespace ringgen
