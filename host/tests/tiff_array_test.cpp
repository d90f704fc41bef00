// TIFF images as host arrays: orientation, every sample type, refusals.

#include "tiff_array.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
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

}  // namespace
