#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>

#include "ring_generator.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;

ringgen::RingParams small(std::uint64_t seed) {
    ringgen::RingParams p;
    p.width = 50;
    p.height = 30;
    p.seed = seed;
    return p;
}

// The tracer reads both files through libtiff's RGBA reader; what it gets must be the
// in-memory image, top row first in the file.
TEST(WriteRingPair, FilesReadBackAsTheGeneratedImages) {
    fixtures::ScratchDir dir;
    const ringgen::RingParams p = small(9);
    std::vector<double> ridge;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, &ridge, &error)) << error;
    ringgen::RingImages img;
    ASSERT_TRUE(ringgen::generateRing(p, &img, &error));
    EXPECT_EQ(ridge, img.ridgeRow);

    const std::pair<const char*, const std::vector<std::uint8_t>*> files[] = {
        {ringgen::kPrimaryName, &img.primary}, {ringgen::kSecondaryName, &img.secondary}};
    for (const auto& [name, pixels] : files) {
        std::uint32_t w = 0, h = 0;
        std::vector<std::uint32_t> raster;
        ASSERT_TRUE(fixtures::readRgbaRaster(dir.file(name), &w, &h, &raster)) << name;
        EXPECT_EQ(w, 50u);
        EXPECT_EQ(h, 30u);
        EXPECT_EQ(raster, ringgen::toRgbaRaster(*pixels, p.width, p.height)) << name;
    }
}

TEST(WriteRingPair, WritesPlainRgbWithTopLeftOrientation) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), small(1), nullptr, nullptr));
    for (const char* name : {ringgen::kPrimaryName, ringgen::kSecondaryName}) {
        TIFF* t = TIFFOpen(dir.file(name).c_str(), "r");
        ASSERT_NE(t, nullptr);
        std::uint16_t spp = 0, bits = 0, photo = 0, planar = 0, orient = 0, extra = 0;
        std::uint16_t* kinds = nullptr;
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
        TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orient);
        TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extra, &kinds);
        EXPECT_EQ(spp, 3);
        EXPECT_EQ(bits, 8);
        EXPECT_EQ(photo, PHOTOMETRIC_RGB);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(orient, ORIENTATION_TOPLEFT);
        EXPECT_EQ(extra, 0);
        TIFFClose(t);
    }
}

TEST(WriteRingPair, CreatesAMissingOutputDirectory) {
    fixtures::ScratchDir dir;
    const std::string nested = dir.file("a/b");
    ASSERT_TRUE(ringgen::writeRingPair(nested, small(2), nullptr, nullptr));
    EXPECT_TRUE(fs::exists(fs::path(nested) / ringgen::kPrimaryName));
    EXPECT_TRUE(fs::exists(fs::path(nested) / ringgen::kSecondaryName));
}

TEST(WriteRingPair, FailuresLeaveNoFilesAndSayWhy) {
    fixtures::ScratchDir dir;
    std::string error;
    ringgen::RingParams bad = small(1);
    bad.width = 7;
    EXPECT_FALSE(ringgen::writeRingPair(dir.path(), bad, nullptr, &error));
    EXPECT_NE(error.find("width"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(dir.path()));

    // A regular file where a directory is needed: fails even for a privileged user.
    std::ofstream(dir.file("plain")) << "x";
    error.clear();
    EXPECT_FALSE(ringgen::writeRingPair(dir.file("plain/sub"), small(1), nullptr, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(ringgen::writeRingPair(dir.file("plain"), small(1), nullptr, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
