#include "tiff_array.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "column_major.h"

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

// The old way, kept as the reference: one row at a time, element by element.
void readRowsPlain(TIFF* tif, const std::string& path, const BandLayout& image,
                   unsigned char* data) {
    std::vector<unsigned char> line(image.rowBytes);
    BandLayout row = image;
    row.rows = 1;
    for (std::size_t i = 0; i < image.height; ++i) {
        if (TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(i), 0) < 0) {
            fail(path, "cannot read row");
        }
        row.firstRow = i;
        bandToColumnsPlain(line.data(), row, data);
    }
}

// Bands of rows through libtiff's decoder, for any compression and byte order.
void readBands(TIFF* tif, const std::string& path, const BandLayout& image, unsigned char* data) {
    const std::size_t bandRows = std::min(bandRowsFor(image.size), image.height);
    std::vector<unsigned char> rows(bandRows * image.rowBytes);
    BandLayout band = image;
    for (std::size_t first = 0; first < image.height; first += band.rows) {
        band.firstRow = first;
        band.rows = std::min(bandRows, image.height - first);
        for (std::size_t r = 0; r < band.rows; ++r) {
            if (TIFFReadScanline(tif, rows.data() + r * image.rowBytes,
                                 static_cast<std::uint32_t>(first + r), 0) < 0) {
                fail(path, "cannot read row");
            }
        }
        bandToColumns(rows.data(), band, data);
    }
}

// An uncompressed file in the machine's byte order holds its rows exactly as the array
// wants them, so bands are converted straight from the mapped file, without libtiff copying
// each row first. Returns false, having read nothing, when the file is not like that or its
// strips do not lie inside it; the caller then reads through libtiff.
bool readMapped(TIFF* tif, const BandLayout& image, unsigned char* data) {
    // libtiff also reverses the bits of every byte of a file filled least significant bit
    // first, whatever its compression.
    std::uint16_t compression = COMPRESSION_NONE, fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    if (compression != COMPRESSION_NONE || fillOrder != FILLORDER_MSB2LSB ||
        (TIFFIsByteSwapped(tif) && image.size > 1)) {
        return false;
    }
    std::uint32_t rowsPerStrip = 0;
    std::uint64_t* offsets = nullptr;
    std::uint64_t* byteCounts = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || !TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &byteCounts) || !offsets || !byteCounts) {
        return false;
    }
    const std::size_t strips = (image.height + rowsPerStrip - 1) / rowsPerStrip;
    if (TIFFNumberOfStrips(tif) < strips) return false;
    struct stat file {};
    const int fd = TIFFFileno(tif);
    if (fd < 0 || fstat(fd, &file) != 0 || file.st_size <= 0) return false;
    const auto fileBytes = static_cast<std::uint64_t>(file.st_size);
    auto stripRows = [&](std::size_t s) {
        return std::min<std::size_t>(rowsPerStrip, image.height - s * rowsPerStrip);
    };
    for (std::size_t s = 0; s < strips; ++s) {
        const std::uint64_t bytes = stripRows(s) * image.rowBytes;
        if (byteCounts[s] < bytes || offsets[s] > fileBytes || bytes > fileBytes - offsets[s]) {
            return false;
        }
    }
    void* map = mmap(nullptr, fileBytes, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) return false;
    const auto* bytes = static_cast<const unsigned char*>(map);
    // A band is a run of whole strips that follow one another in the file.
    const std::size_t bandRows = bandRowsFor(image.size);
    BandLayout band = image;
    for (std::size_t s = 0; s < strips;) {
        std::size_t end = s + 1;
        band.firstRow = s * rowsPerStrip;
        band.rows = stripRows(s);
        while (end < strips && band.rows + stripRows(end) <= bandRows &&
               offsets[end] == offsets[end - 1] + stripRows(end - 1) * image.rowBytes) {
            band.rows += stripRows(end);
            ++end;
        }
        bandToColumns(bytes + offsets[s], band, data);
        s = end;
    }
    munmap(map, fileBytes);
    return true;
}

void writeRowsPlain(TIFF* tif, const BandLayout& image, const unsigned char* data, bool& written) {
    std::vector<unsigned char> line(image.rowBytes);
    BandLayout row = image;
    row.rows = 1;
    for (std::size_t i = 0; i < image.height && written; ++i) {
        row.firstRow = i;
        columnsToBandPlain(data, row, line.data());
        written = TIFFWriteScanline(tif, line.data(), static_cast<std::uint32_t>(i), 0) >= 0;
    }
}

// Bands of whole strips, handed to libtiff as they are: the file is uncompressed and in the
// machine's byte order, so a band's rows are the strips' bytes.
void writeStrips(TIFF* tif, const BandLayout& image, std::uint32_t rowsPerStrip,
                 const unsigned char* data, bool& written) {
    const std::size_t lineBytes = image.rowBytes;
    const std::size_t bandRows = std::min<std::size_t>(
        image.height,
        std::max<std::size_t>(1, bandRowsFor(image.size) / rowsPerStrip) * rowsPerStrip);
    // Rows a multiple of 4 KiB long (widths are often powers of two) would all fall into the
    // same few cache sets, and the tiles' writes to 16 rows at a time would evict each
    // other: such rows are kept a cache line apart in the band, and strips of more than
    // one row are gathered before they are written.
    BandLayout band = image;
    if (lineBytes % 4096 == 0) band.rowBytes = lineBytes + 64;
    std::vector<unsigned char> lines(bandRows * band.rowBytes);
    std::vector<unsigned char> strip;
    if (band.rowBytes != lineBytes && rowsPerStrip > 1) strip.resize(rowsPerStrip * lineBytes);
    for (std::size_t first = 0; first < image.height && written; first += band.rows) {
        band.firstRow = first;
        band.rows = std::min(bandRows, image.height - first);
        columnsToBand(data, band, lines.data());
        for (std::size_t r = 0; r < band.rows && written; r += rowsPerStrip) {
            const std::size_t n = std::min<std::size_t>(rowsPerStrip, band.rows - r);
            const unsigned char* bytes = lines.data() + r * band.rowBytes;
            if (band.rowBytes != lineBytes && n > 1) {
                for (std::size_t k = 0; k < n; ++k) {
                    std::memcpy(strip.data() + k * lineBytes, bytes + k * band.rowBytes, lineBytes);
                }
                bytes = strip.data();
            }
            written = TIFFWriteRawStrip(tif, static_cast<std::uint32_t>((first + r) / rowsPerStrip),
                                        const_cast<unsigned char*>(bytes),
                                        static_cast<tmsize_t>(n * lineBytes)) >= 0;
        }
    }
}

}  // namespace

hv::ArrayPtr readTiff(const std::string& path, Conversion conversion) {
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
    const auto lineBytes = static_cast<std::size_t>(TIFFScanlineSize64(tif.get()));
    if (lineBytes < width * size) fail(path, "unexpected scanline size");
    const BandLayout image{size, width, height, 0, height, lineBytes};
    auto* data = static_cast<unsigned char*>(array->getData());
    if (conversion == Conversion::plain) {
        readRowsPlain(tif.get(), path, image, data);
    } else if (!readMapped(tif.get(), image, data)) {
        readBands(tif.get(), path, image, data);
    }
    return array;
}

void writeTiff(const std::string& path, const hvArray& array, Conversion conversion) {
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
        const std::uint32_t rowsPerStrip = TIFFDefaultStripSize(tif.get(), 0);
        TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        const std::size_t size = type->bits / 8;
        const BandLayout image{size, columns, rows, 0, rows, columns * size};
        const auto* data = static_cast<const unsigned char*>(array.getData());
        bool written = true;
        if (conversion == Conversion::plain) {
            writeRowsPlain(tif.get(), image, data, written);
        } else {
            writeStrips(tif.get(), image, rowsPerStrip, data, written);
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
