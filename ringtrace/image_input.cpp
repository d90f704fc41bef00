#include "image_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "graph/large_allocator.h"
#include "loaded_tiff.h"

namespace ringtrace {

namespace {

void decodeAsRgb(TIFF* tif) {
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (samples <= 3) TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(0), static_cast<uint16_t*>(nullptr));
}

bool sizeOf(TIFF* tif, uint32_t& width, uint32_t& height) {
    width = 0;
    height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    return width > 0 && height > 0 && uint64_t{width} * height <= uint64_t{kMaxPixels};
}

uint32_t* newRaster(int64_t pixels) {
    // Straight from the kernel where it can be, so already clear (a failed read leaves zeros
    // where it stopped: clearing 2 x 16 MB again cost 5 ms at 2048 x 2048), and from 256 KiB
    // up in whole huge pages (see the large allocator: writing fresh small pages cost as much
    // as decoding the image at 720 x 400). Its pages are mapped in one call rather than one
    // fault at a time where that pays. Released by freeRaster.
    return static_cast<uint32_t*>(ringgraph::take_block(static_cast<size_t>(pixels * 4), true));
}

void freeRaster(uint32_t* raster, int64_t pixels) {
    if (raster != nullptr) ringgraph::give_block(raster, static_cast<size_t>(pixels * 4));
}

// A secondary image of a different size: read it at its own size, keep the overlap.
int readMismatchedSecondary(TIFF* tif, int32_t width, int32_t height, uint32_t* raster) {
    uint32_t w2 = 0, h2 = 0;
    if (!sizeOf(tif, w2, h2)) return 0;
    const auto sw = static_cast<int32_t>(w2), sh = static_cast<int32_t>(h2);
    uint32_t* own = newRaster(int64_t{sw} * sh);
    if (own == nullptr) return 0;
    readRaster(tif, sw, sh, own);
    const int32_t cols = sw < width ? sw : width;
    const int32_t rows = sh < height ? sh : height;
    for (int32_t y = 0; y < rows; ++y) {
        std::memcpy(raster + rasterIndex(0, y, width, height), own + rasterIndex(0, y, sw, sh),
                    static_cast<size_t>(cols) * 4);
    }
    freeRaster(own, int64_t{sw} * sh);
    return 0;
}

}  // namespace

std::string sizeRefusal(int64_t width, int64_t height) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width > 0 && height > 0 && width > kMaxPixels / height) {
        return "image of " + size + " is larger than the " + std::to_string(kMaxPixels) +
               " pixels this program can trace";
    }
    if (width < 3 && height >= 7) return "image of " + size + " is too narrow to trace: it needs at least 3 columns";
    return {};
}

int readRaster(TIFF* tif, int32_t width, int32_t height, uint32_t* raster) {
    decodeAsRgb(tif);
    return TIFFReadRGBAImage(tif, static_cast<uint32_t>(width), static_cast<uint32_t>(height), raster, 0);
}

inputStatus readInputs(const char* primaryPath, const char* secondaryPath, inputImages& in,
                       std::string& message) {
    in = inputImages{};
    openLoadedPair(primaryPath, secondaryPath, in.primary, in.secondary);
    if (in.primary == nullptr) {
        if (in.secondary != nullptr) TIFFClose(in.secondary);
        in.secondary = nullptr;
        return inputStatus::noImage;
    }

    uint32_t w = 0, h = 0;
    TIFFGetField(in.primary, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(in.primary, TIFFTAG_IMAGELENGTH, &h);
    auto closeAll = [&] {
        TIFFClose(in.primary);
        if (in.secondary != nullptr) TIFFClose(in.secondary);
        in.primary = in.secondary = nullptr;
    };
    if (w == 0 || h == 0) {
        closeAll();
        return inputStatus::noImage;
    }
    message = sizeRefusal(w, h);
    if (!message.empty()) {
        closeAll();
        return inputStatus::refused;
    }
    in.width = static_cast<int32_t>(w);
    in.height = static_cast<int32_t>(h);

    const int64_t pixels = int64_t{in.width} * in.height;
    in.primaryRaster = newRaster(pixels);
    in.secondaryRaster = newRaster(pixels);
    if (in.primaryRaster == nullptr || in.secondaryRaster == nullptr) {
        message = "not enough memory for two rasters of " + std::to_string(pixels) + " pixels";
        releaseRasters(in);
        closeAll();
        return inputStatus::refused;
    }

    const int okPrimary = readRaster(in.primary, in.width, in.height, in.primaryRaster);
    int okSecondary = 0;
    if (in.secondary != nullptr) {
        uint32_t w2 = 0, h2 = 0;
        TIFFGetField(in.secondary, TIFFTAG_IMAGEWIDTH, &w2);
        TIFFGetField(in.secondary, TIFFTAG_IMAGELENGTH, &h2);
        okSecondary = (w2 == w && h2 == h)
                          ? readRaster(in.secondary, in.width, in.height, in.secondaryRaster)
                          : readMismatchedSecondary(in.secondary, in.width, in.height, in.secondaryRaster);
    }
    in.primaryRead = okPrimary != 0;
    in.secondaryRead = okSecondary != 0;
    return okPrimary != 0 && okSecondary != 0 ? inputStatus::read : inputStatus::readFailed;
}

void releaseRasters(inputImages& in) {
    const int64_t pixels = int64_t{in.width} * in.height;
    freeRaster(in.primaryRaster, pixels);
    freeRaster(in.secondaryRaster, pixels);
    in.primaryRaster = in.secondaryRaster = nullptr;
}

}  // namespace ringtrace
