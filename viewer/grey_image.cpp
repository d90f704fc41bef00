#include "grey_image.h"

#include <tiffio.h>

#include <cstring>
#include <memory>

#include "image_limits.h"
#include "tiff_errors.h"

namespace ringview {

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

template <typename T>
void appendRow(const unsigned char* row, std::uint32_t width, std::vector<double>* values) {
    for (std::uint32_t x = 0; x < width; ++x) {
        T sample;
        std::memcpy(&sample, row + x * sizeof(T), sizeof(T));
        values->push_back(static_cast<double>(sample));
    }
}

using RowDecoder = void (*)(const unsigned char*, std::uint32_t, std::vector<double>*);

// The decoder for one sample type, or nullptr when the combination is not a number
// type this reader knows.
RowDecoder decoderFor(SampleKind kind, std::uint16_t bits) {
    switch (kind) {
        case SampleKind::Unsigned:
            if (bits == 8) return appendRow<std::uint8_t>;
            if (bits == 16) return appendRow<std::uint16_t>;
            if (bits == 32) return appendRow<std::uint32_t>;
            if (bits == 64) return appendRow<std::uint64_t>;
            break;
        case SampleKind::Signed:
            if (bits == 8) return appendRow<std::int8_t>;
            if (bits == 16) return appendRow<std::int16_t>;
            if (bits == 32) return appendRow<std::int32_t>;
            if (bits == 64) return appendRow<std::int64_t>;
            break;
        case SampleKind::Float:
            if (bits == 32) return appendRow<float>;
            if (bits == 64) return appendRow<double>;
            break;
    }
    return nullptr;
}

}  // namespace

bool readGreyTiff(const std::string& path, GreyImage* image, std::string* error) {
    TiffErrorCapture capture;
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        *error = "cannot read " + path + capture.suffix();
        return false;
    }
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    const bool hasPhotometric = TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric) == 1;

    if (samples != 1 || (hasPhotometric && photometric != PHOTOMETRIC_MINISBLACK &&
                         photometric != PHOTOMETRIC_MINISWHITE)) {
        *error = path + " is not a greyscale image (one sample per pixel)";
        return false;
    }
    if (TIFFIsTiled(tif.get())) {
        *error = path + " is tiled; only strip images are read";
        return false;
    }
    const SampleKind kind = format == SAMPLEFORMAT_INT      ? SampleKind::Signed
                            : format == SAMPLEFORMAT_IEEEFP ? SampleKind::Float
                                                            : SampleKind::Unsigned;
    const RowDecoder decode =
        format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_IEEEFP
            ? decoderFor(kind, bits)
            : nullptr;
    if (decode == nullptr) {
        *error = path + " has an unsupported sample type (" + std::to_string(bits) + " bits)";
        return false;
    }
    if (width == 0 || height == 0 || std::uint64_t{width} * height > kMaxPixels) {
        *error = path + " has an unusable size " + std::to_string(width) + " x " +
                 std::to_string(height);
        return false;
    }
    const tmsize_t lineBytes = TIFFScanlineSize(tif.get());
    if (lineBytes < static_cast<tmsize_t>(std::uint64_t{width} * (bits / 8))) {
        *error = "cannot read " + path + capture.suffix();
        return false;
    }

    image->width = width;
    image->height = height;
    image->kind = kind;
    image->bits = bits;
    image->minIsWhite = hasPhotometric && photometric == PHOTOMETRIC_MINISWHITE;
    image->values.clear();
    image->values.reserve(std::size_t{width} * height);
    std::vector<unsigned char> line(static_cast<std::size_t>(lineBytes));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y, 0) < 0) {
            *error = "cannot read row " + std::to_string(y) + " of " + path + capture.suffix();
            return false;
        }
        decode(line.data(), width, &image->values);
    }
    return true;
}

}  // namespace ringview
