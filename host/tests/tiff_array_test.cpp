// TIFF images as host arrays: orientation, every sample type, refusals.

#include "tiff_array.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace cls = hv::classid;

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "_tiff_" + name;
}

TEST(TiffArray, ImageRowsAreArrayRows) {
    // Written directly: 2 lines of 3 pixels.
    const std::string path = tempPath("rows.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 3);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    unsigned char top[3] = {1, 2, 3}, bottom[3] = {4, 5, 6};
    TIFFWriteScanline(tif, top, 0, 0);
    TIFFWriteScanline(tif, bottom, 1, 0);
    TIFFClose(tif);

    const hv::ArrayPtr array = hvhost::readTiff(path);
    ASSERT_EQ(array->getClassID(), cls::kUint8);
    ASSERT_EQ(array->get_dimensions()[0], 2u);
    ASSERT_EQ(array->get_dimensions()[1], 3u);
    const auto* d = static_cast<const unsigned char*>(array->getData());
    EXPECT_EQ(std::vector<int>(d, d + 6), (std::vector<int>{1, 4, 2, 5, 3, 6}));
    std::remove(path.c_str());
}

TEST(TiffArray, EverySampleTypeRoundTrips) {
    const hvClassID classes[] = {cls::kUint8, cls::kUint16, cls::kInt16, cls::kSingle,
                                 cls::kInt8,  cls::kUint32, cls::kInt32, cls::kUint64,
                                 cls::kInt64, cls::kHalf,   cls::kDouble};
    for (const hvClassID id : classes) {
        const std::uint64_t dims[2] = {3, 5};
        const hv::ArrayPtr array = hv::createArray(id, dims);
        auto* bytes = static_cast<unsigned char*>(array->getData());
        for (std::size_t b = 0; b < 15 * array->getElementSize(); ++b) bytes[b] = (b * 37) & 0x7f;
        const std::string path = tempPath("type" + std::to_string(id) + ".tif");
        hvhost::writeTiff(path, *array);
        const hv::ArrayPtr back = hvhost::readTiff(path);
        EXPECT_EQ(back->getClassID(), id);
        ASSERT_EQ(back->getNumberOfElements(), 15u);
        EXPECT_EQ(std::memcmp(back->getData(), bytes, 15 * array->getElementSize()), 0) << id;
        std::remove(path.c_str());
    }
}

TEST(TiffArray, RefusesWhatItCannotRepresent) {
    const std::string rgb = tempPath("rgb.tif");
    TIFF* tif = TIFFOpen(rgb.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    unsigned char pixel[3] = {1, 2, 3};
    TIFFWriteScanline(tif, pixel, 0, 0);
    TIFFClose(tif);
    EXPECT_THROW(hvhost::readTiff(rgb), std::runtime_error);
    EXPECT_THROW(hvhost::readTiff(tempPath("missing.tif")), std::runtime_error);
    std::remove(rgb.c_str());

    const std::uint64_t dims[2] = {2, 2};
    const std::string logical = tempPath("logical.tif");
    EXPECT_THROW(hvhost::writeTiff(logical, *hv::createArray(cls::kLogical, dims)),
                 std::runtime_error);
    EXPECT_EQ(std::fopen(logical.c_str(), "r"), nullptr);
}

// A row-major picture written straight with libtiff, in whichever layout a file may have.
struct FileLayout {
    const char* mode = "w";  // "wb": big-endian, so a little-endian reader swaps bytes
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t rowsPerStrip = 8;
    bool stripsBackwards = false;  // strips stored last first: none follows the one before
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;  // LSB2MSB: libtiff reverses each byte's bits
};

struct Picture {
    std::uint32_t width, height;
    std::uint16_t bits, format;
    std::vector<unsigned char> rows;  // row-major, native byte order
};

Picture makePicture(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                    std::uint16_t format) {
    Picture p{width, height, bits, format, std::vector<unsigned char>(width * height * bits / 8)};
    std::uint32_t x = width * 31 + height;
    for (auto& b : p.rows) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
    }
    if (format == SAMPLEFORMAT_IEEEFP) {  // finite values only, so that equality means equality
        for (std::size_t k = bits / 8 - 1; k < p.rows.size(); k += bits / 8) p.rows[k] &= 0x3f;
    }
    return p;
}

void writeFile(const std::string& path, const Picture& p, const FileLayout& f) {
    TIFF* tif = TIFFOpen(path.c_str(), f.mode);
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression);
    TIFFSetField(tif, TIFFTAG_FILLORDER, f.fillOrder);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, f.rowsPerStrip);
    const std::size_t line = p.width * p.bits / 8;
    const std::uint32_t strips = (p.height + f.rowsPerStrip - 1) / f.rowsPerStrip;
    for (std::uint32_t k = 0; k < strips; ++k) {
        const std::uint32_t s = f.stripsBackwards ? strips - 1 - k : k;
        const std::uint32_t first = s * f.rowsPerStrip;
        const std::uint32_t count = std::min(f.rowsPerStrip, p.height - first);
        // libtiff swaps the bytes of what it writes in place, so it gets a copy.
        std::vector<unsigned char> strip(p.rows.begin() + first * line,
                                         p.rows.begin() + (first + count) * line);
        ASSERT_GE(TIFFWriteEncodedStrip(tif, s, strip.data(), static_cast<tmsize_t>(strip.size())),
                  0);
    }
    TIFFClose(tif);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whatever the file's layout (read straight from the mapped file or through libtiff's
// decoder), the tiled reading gives the array the plain reading gives, element (i, j) being
// row i's element j; and the tiled writing writes the very file the plain writing writes.
TEST(TiffArray, TiledAndPlainConversionsAgreeOnEveryFileLayout) {
    struct Type {
        std::uint16_t bits, format;
    };
    const Type types[] = {{8, SAMPLEFORMAT_UINT},
                          {16, SAMPLEFORMAT_INT},
                          {32, SAMPLEFORMAT_IEEEFP},
                          {64, SAMPLEFORMAT_IEEEFP}};
    // Rows of 4 KiB and 8 KiB among them (512, 1024 and 4096 columns), which the writer keeps
    // apart in its band and gathers into strips of two rows.
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {1, 1}, {300, 77}, {1, 700}, {700, 1}, {33, 517}, {512, 9}, {1024, 40}, {4096, 21}};
    FileLayout layouts[6];
    layouts[1].rowsPerStrip = 3;
    layouts[2].stripsBackwards = true;
    layouts[3].compression = COMPRESSION_LZW;
    layouts[4].mode = "wb";
    layouts[4].rowsPerStrip = 1000;
    layouts[5].fillOrder = FILLORDER_LSB2MSB;
    const std::string in = tempPath("layout_in.tif");
    const std::string tiledOut = tempPath("layout_tiled.tif");
    const std::string plainOut = tempPath("layout_plain.tif");
    for (const Type& type : types) {
        for (const auto& [width, height] : sizes) {
            const Picture picture = makePicture(width, height, type.bits, type.format);
            const std::size_t size = type.bits / 8;
            for (std::size_t l = 0; l < std::size(layouts); ++l) {
                SCOPED_TRACE(testing::Message() << type.bits << " bits, " << width << " x "
                                                << height << ", layout " << l);
                writeFile(in, picture, layouts[l]);
                const hv::ArrayPtr tiled = hvhost::readTiff(in);
                const hv::ArrayPtr plain = hvhost::readTiff(in, hvhost::Conversion::plain);
                ASSERT_EQ(tiled->getNumberOfElements(), std::size_t{width} * height);
                const auto* t = static_cast<const unsigned char*>(tiled->getData());
                ASSERT_EQ(std::memcmp(t, plain->getData(), width * height * size), 0);
                const std::size_t i = height / 2, j = width - 1;
                EXPECT_EQ(std::memcmp(t + (i + j * height) * size,
                                      picture.rows.data() + (i * width + j) * size, size),
                          0);

                hvhost::writeTiff(tiledOut, *tiled);
                hvhost::writeTiff(plainOut, *tiled, hvhost::Conversion::plain);
                const std::string tiledFile = fileBytes(tiledOut), plainFile = fileBytes(plainOut);
                const auto differ = std::mismatch(tiledFile.begin(), tiledFile.end(),
                                                  plainFile.begin(), plainFile.end());
                EXPECT_TRUE(tiledFile == plainFile)
                    << "the files (" << tiledFile.size() << " and " << plainFile.size()
                    << " bytes) differ from byte " << differ.first - tiledFile.begin() << " on";
            }
        }
    }
    for (const std::string& path : {in, tiledOut, plainOut}) std::remove(path.c_str());
}

// Strips that reach past the end of the file, or hold fewer bytes than their rows need, are
// refused, never read past the end of the file.
TEST(TiffArray, RefusesStripsThatTheFileDoesNotHold) {
    const Picture picture = makePicture(64, 64, 8, SAMPLEFORMAT_UINT);
    FileLayout layout;
    layout.rowsPerStrip = 64;
    const std::string path = tempPath("short.tif");

    // The one strip moved to start near the end of the file: a little-endian classic TIFF
    // whose directory entry 273 (StripOffsets) holds the offset itself.
    writeFile(path, picture, layout);
    std::string bytes = fileBytes(path);
    auto u16 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1]))
                                                            << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    ASSERT_EQ(bytes.substr(0, 2), "II");
    const std::size_t directory = u32(4);
    bool moved = false;
    for (std::size_t e = 0; e < u16(directory); ++e) {
        const std::size_t entry = directory + 2 + 12 * e;
        if (u16(entry) != TIFFTAG_STRIPOFFSETS) continue;
        ASSERT_EQ(u32(entry + 4), 1u);  // type LONG, one value
        const std::uint32_t offset = static_cast<std::uint32_t>(bytes.size() - 100);
        for (int b = 0; b < 4; ++b) bytes[entry + 8 + b] = static_cast<char>(offset >> (8 * b));
        moved = true;
    }
    ASSERT_TRUE(moved);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_THROW(hvhost::readTiff(path), std::runtime_error);
    EXPECT_THROW(hvhost::readTiff(path, hvhost::Conversion::plain), std::runtime_error);

    // A strip written with half its rows.
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 64);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 64);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    ASSERT_GE(TIFFWriteRawStrip(tif, 0, const_cast<unsigned char*>(picture.rows.data()), 32 * 64),
              0);
    TIFFClose(tif);
    EXPECT_THROW(hvhost::readTiff(path), std::runtime_error);
    EXPECT_THROW(hvhost::readTiff(path, hvhost::Conversion::plain), std::runtime_error);
    std::remove(path.c_str());
}

}  // namespace
