#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tiff_fixtures.h"

namespace fixtures {

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

std::uint16_t compressionTag(Compression c) {
    switch (c) {
        case Compression::Lzw:
            return COMPRESSION_LZW;
        case Compression::Deflate:
            return COMPRESSION_ADOBE_DEFLATE;
        case Compression::None:
            break;
    }
    return COMPRESSION_NONE;
}

void setTags(TIFF* t, std::uint32_t width, std::uint32_t height, const PixelFormat& f,
             const Layout& layout) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, f.samplesPerPixel);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, f.bitsPerSample);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, f.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compressionTag(layout.compression));
    TIFFSetField(t, TIFFTAG_ORIENTATION, layout.orientation);
    if (f.sampleFormat != 0) TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, f.sampleFormat);
    if (!f.extraSamples.empty()) {
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(f.extraSamples.size()),
                     f.extraSamples.data());
    }
    if (f.palette) {
        // libtiff reads the three maps but declares them non-const.
        TIFFSetField(t, TIFFTAG_COLORMAP, const_cast<std::uint16_t*>(f.palette->red.data()),
                     const_cast<std::uint16_t*>(f.palette->green.data()),
                     const_cast<std::uint16_t*>(f.palette->blue.data()));
    }
    if (layout.tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, kTileSide);
        TIFFSetField(t, TIFFTAG_TILELENGTH, kTileSide);
    } else {
        const std::uint32_t rows = layout.rowsPerStrip == 0 ? height : layout.rowsPerStrip;
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    }
}

// Codecs may reorder or predict in place, so every strip and tile goes through a copy.
bool writeStrips(TIFF* t, std::uint32_t width, std::uint32_t height, std::size_t pixelSize,
                 const std::uint8_t* data, const Layout& layout) {
    const std::uint32_t rows = layout.rowsPerStrip == 0 ? height : layout.rowsPerStrip;
    const std::size_t rowBytes = width * pixelSize;
    std::vector<std::uint8_t> buf;
    for (std::uint32_t y0 = 0, strip = 0; y0 < height; y0 += rows, ++strip) {
        const std::uint32_t n = std::min(rows, height - y0);
        buf.assign(data + y0 * rowBytes, data + (y0 + n) * rowBytes);
        if (TIFFWriteEncodedStrip(t, strip, buf.data(), static_cast<tmsize_t>(buf.size())) < 0) {
            return false;
        }
    }
    return true;
}

bool writeTiles(TIFF* t, std::uint32_t width, std::uint32_t height, std::size_t pixelSize,
                const std::uint8_t* data) {
    const std::size_t rowBytes = width * pixelSize;
    const std::size_t tileRowBytes = kTileSide * pixelSize;
    std::vector<std::uint8_t> buf(kTileSide * tileRowBytes);
    for (std::uint32_t ty = 0; ty < height; ty += kTileSide) {
        for (std::uint32_t tx = 0; tx < width; tx += kTileSide) {
            std::fill(buf.begin(), buf.end(), 0);  // edge tiles are padded with zeros
            const std::uint32_t rows = std::min(kTileSide, height - ty);
            const std::uint32_t cols = std::min(kTileSide, width - tx);
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::memcpy(buf.data() + r * tileRowBytes,
                            data + (ty + r) * rowBytes + tx * pixelSize, cols * pixelSize);
            }
            const ttile_t tile = TIFFComputeTile(t, tx, ty, 0, 0);
            if (TIFFWriteEncodedTile(t, tile, buf.data(), static_cast<tmsize_t>(buf.size())) < 0) {
                return false;
            }
        }
    }
    return true;
}

PixelFormat makeFormat(std::uint16_t spp, std::uint16_t bits, std::uint16_t photometric,
                       std::uint16_t sampleFormat = 0) {
    PixelFormat f;
    f.samplesPerPixel = spp;
    f.bitsPerSample = bits;
    f.photometric = photometric;
    f.sampleFormat = sampleFormat;
    return f;
}

template <typename T>
bool writeTyped(const std::string& path, std::uint32_t w, std::uint32_t h, const PixelFormat& f,
                const std::vector<T>& pixels, const Layout& layout) {
    return writeTiff(path, w, h, f, pixels.data(), pixels.size() * sizeof(T), layout);
}

}  // namespace

bool writeTiff(const std::string& path, std::uint32_t width, std::uint32_t height,
               const PixelFormat& format, const void* pixels, std::size_t pixelBytes,
               const Layout& layout) {
    const std::size_t pixelSize = std::size_t{format.samplesPerPixel} * format.bitsPerSample / 8;
    if (width == 0 || height == 0 || pixelSize == 0 ||
        pixelBytes != std::size_t{width} * height * pixelSize) {
        return false;
    }
    if (format.photometric == PHOTOMETRIC_PALETTE && !format.palette) return false;
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) return false;
    setTags(tif.get(), width, height, format, layout);
    const auto* data = static_cast<const std::uint8_t*>(pixels);
    const bool ok = layout.tiled ? writeTiles(tif.get(), width, height, pixelSize, data)
                                 : writeStrips(tif.get(), width, height, pixelSize, data, layout);
    return ok && TIFFWriteDirectory(tif.get());
}

bool writeRgb8(const std::string& path, std::uint32_t width, std::uint32_t height,
               const std::vector<std::uint8_t>& rgb, const Layout& layout) {
    return writeTyped(path, width, height, makeFormat(3, 8, PHOTOMETRIC_RGB), rgb, layout);
}

bool writeRgba8(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint8_t>& rgba, Alpha alpha, const Layout& layout) {
    const std::uint16_t extra = alpha == Alpha::Associated     ? EXTRASAMPLE_ASSOCALPHA
                                : alpha == Alpha::Unassociated ? EXTRASAMPLE_UNASSALPHA
                                                               : EXTRASAMPLE_UNSPECIFIED;
    PixelFormat f = makeFormat(4, 8, PHOTOMETRIC_RGB);
    f.extraSamples = {extra};
    return writeTyped(path, width, height, f, rgba, layout);
}

bool writeGrey8(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint8_t>& grey, const Layout& layout) {
    return writeTyped(path, width, height, makeFormat(1, 8, PHOTOMETRIC_MINISBLACK), grey, layout);
}

bool writePalette8(const std::string& path, std::uint32_t width, std::uint32_t height,
                   const std::vector<std::uint8_t>& indices, const Palette& palette,
                   const Layout& layout) {
    if (palette.red.size() != 256 || palette.green.size() != 256 || palette.blue.size() != 256) {
        return false;
    }
    PixelFormat f = makeFormat(1, 8, PHOTOMETRIC_PALETTE);
    f.palette = &palette;
    return writeTyped(path, width, height, f, indices, layout);
}

bool writeRgb16(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint16_t>& rgb, const Layout& layout) {
    return writeTyped(path, width, height, makeFormat(3, 16, PHOTOMETRIC_RGB), rgb, layout);
}

bool writeGrey16(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::vector<std::uint16_t>& grey, const Layout& layout) {
    return writeTyped(path, width, height, makeFormat(1, 16, PHOTOMETRIC_MINISBLACK), grey, layout);
}

bool writeGreyUInt16(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::vector<std::uint16_t>& grey, const Layout& layout) {
    return writeTyped(path, width, height,
                      makeFormat(1, 16, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_UINT), grey, layout);
}

bool writeGreyInt16(const std::string& path, std::uint32_t width, std::uint32_t height,
                    const std::vector<std::int16_t>& grey, const Layout& layout) {
    return writeTyped(path, width, height,
                      makeFormat(1, 16, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_INT), grey, layout);
}

bool writeGreyFloat(const std::string& path, std::uint32_t width, std::uint32_t height,
                    const std::vector<float>& grey, const Layout& layout) {
    return writeTyped(path, width, height,
                      makeFormat(1, 32, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_IEEEFP), grey, layout);
}

}  // namespace fixtures
