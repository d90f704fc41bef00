#include "tiff_array.h"

#include <tiffio.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace hvhost {
namespace {

struct SampleType {
    std::uint16_t format;
    std::uint16_t bits;
    hvClassID classID;
};

constexpr std::array<SampleType, 11> kSampleTypes{{
    {SAMPLEFORMAT_UINT, 8, hv::classid::kUint8},
    {SAMPLEFORMAT_UINT, 16, hv::classid::kUint16},
    {SAMPLEFORMAT_INT, 16, hv::classid::kInt16},
    {SAMPLEFORMAT_IEEEFP, 32, hv::classid::kSingle},
    {SAMPLEFORMAT_INT, 8, hv::classid::kInt8},
    {SAMPLEFORMAT_UINT, 32, hv::classid::kUint32},
    {SAMPLEFORMAT_INT, 32, hv::classid::kInt32},
    {SAMPLEFORMAT_UINT, 64, hv::classid::kUint64},
    {SAMPLEFORMAT_INT, 64, hv::classid::kInt64},
    {SAMPLEFORMAT_IEEEFP, 16, hv::classid::kHalf},
    {SAMPLEFORMAT_IEEEFP, 64, hv::classid::kDouble},
}};

std::optional<SampleType> byFormat(std::uint16_t format, std::uint16_t bits) {
    for (const SampleType& t : kSampleTypes) {
        if (t.format == format && t.bits == bits) return t;
    }
    return std::nullopt;
}

std::optional<SampleType> byClass(hvClassID classID) {
    for (const SampleType& t : kSampleTypes) {
        if (t.classID == classID) return t;
    }
    return std::nullopt;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw std::runtime_error(path + ": " + what);
}

}  // namespace

hv::ArrayPtr readTiff(const std::string& path) {
    TiffPtr tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) fail(path, "cannot open as TIFF");
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (samples != 1) fail(path, "not a single-channel image");
    if (TIFFIsTiled(tif.get())) fail(path, "tiled images are not supported");
    const auto type = byFormat(format, bits);
    if (!type) {
        fail(path, "sample type (format " + std::to_string(format) + ", " + std::to_string(bits) +
                       " bits) has no array class");
    }

    const std::uint64_t dims[2] = {height, width};
    hv::ArrayPtr array = hv::createArray(type->classID, dims);
    const std::size_t size = bits / 8;
    std::vector<unsigned char> line(static_cast<std::size_t>(TIFFScanlineSize64(tif.get())));
    if (line.size() < width * size) fail(path, "unexpected scanline size");
    auto* data = static_cast<unsigned char*>(array->getData());
    for (std::uint32_t i = 0; i < height; ++i) {
        if (TIFFReadScanline(tif.get(), line.data(), i, 0) < 0) fail(path, "cannot read row");
        for (std::uint32_t j = 0; j < width; ++j) {
            std::memcpy(data + (i + static_cast<std::size_t>(j) * height) * size,
                        line.data() + static_cast<std::size_t>(j) * size, size);
        }
    }
    return array;
}

void writeTiff(const std::string& path, const hvArray& array) {
    const auto type = byClass(array.getClassID());
    if (!type) fail(path, "class id " + std::to_string(array.getClassID()) + " has no TIFF type");
    if (array.getNumberOfDimensions() != 2 || array.isComplex()) {
        fail(path, "only real two-dimensional arrays can be written");
    }
    const std::uint64_t rows = array.get_dimensions()[0];
    const std::uint64_t columns = array.get_dimensions()[1];
    if (rows == 0 || columns == 0 || rows > UINT32_MAX || columns > UINT32_MAX) {
        fail(path, "array shape cannot be stored as a TIFF image");
    }
    const std::string temporary = path + ".partial";
    {
        TiffPtr tif(TIFFOpen(temporary.c_str(), "w"));
        if (!tif) fail(path, "cannot create");
        TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(columns));
        TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
        TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, type->bits);
        TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, type->format);
        TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));
        const std::size_t size = type->bits / 8;
        std::vector<unsigned char> line(columns * size);
        const auto* data = static_cast<const unsigned char*>(array.getData());
        bool written = true;
        for (std::uint64_t i = 0; i < rows && written; ++i) {
            for (std::uint64_t j = 0; j < columns; ++j) {
                std::memcpy(line.data() + j * size, data + (i + j * rows) * size, size);
            }
            written =
                TIFFWriteScanline(tif.get(), line.data(), static_cast<std::uint32_t>(i), 0) >= 0;
        }
        written = written && TIFFFlush(tif.get()) == 1;
        if (!written) {
            tif.reset();
            std::remove(temporary.c_str());
            fail(path, "cannot write");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        fail(path, "cannot move the written image into place");
    }
}

}  // namespace hvhost
