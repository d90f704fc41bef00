#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tiff_fixtures.h"

namespace {

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BrokenFiles, TruncatedCopyIsAPrefixThatNoLongerDecodes) {
    fixtures::ScratchDir dir;
    const std::vector<std::uint8_t> rgb(64 * 64 * 3, 90);
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("full.tif"), 64, 64, rgb));
    const auto full = bytesOf(dir.file("full.tif"));
    // Cut inside the pixel data: the header survives, the image does not.
    ASSERT_TRUE(fixtures::writeTruncatedCopy(dir.file("full.tif"), dir.file("cut.tif"), 4000));
    const auto cut = bytesOf(dir.file("cut.tif"));
    ASSERT_EQ(cut.size(), 4000u);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));

    std::uint32_t w = 0, h = 0;
    std::vector<std::uint32_t> raster;
    EXPECT_FALSE(fixtures::readRgbaRaster(dir.file("cut.tif"), &w, &h, &raster));

    // Asking for more than there is copies the whole file.
    ASSERT_TRUE(fixtures::writeTruncatedCopy(dir.file("full.tif"), dir.file("all.tif"), 1u << 30));
    EXPECT_EQ(bytesOf(dir.file("all.tif")), full);
    EXPECT_FALSE(fixtures::writeTruncatedCopy(dir.file("missing.tif"), dir.file("x.tif"), 10));
}

TEST(BrokenFiles, HugeClaimOpensWithTheClaimedSizeButAlmostNoData) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("huge.tif")));
    EXPECT_LT(std::filesystem::file_size(dir.file("huge.tif")), 256u);
    TIFF* t = TIFFOpen(dir.file("huge.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::uint32_t w = 0, h = 0;
    std::uint16_t spp = 0, bits = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    EXPECT_EQ(w, 100000u);
    EXPECT_EQ(h, 100000u);
    EXPECT_EQ(spp, 3);
    EXPECT_EQ(bits, 8);
    // The first row cannot be read in full: the strip holds 16 bytes.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(t)));
    EXPECT_EQ(TIFFReadScanline(t, row.data(), 0, 0), -1);
    TIFFClose(t);
}

TEST(BrokenFiles, HugeClaimTakesOtherSizes) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("big.tif"), 70000, 3));
    TIFF* t = TIFFOpen(dir.file("big.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    EXPECT_EQ(w, 70000u);
    EXPECT_EQ(h, 3u);
    TIFFClose(t);
}

TEST(BrokenFiles, EmptyAndNonTiffFilesDoNotOpen) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeEmptyFile(dir.file("empty.tif")));
    ASSERT_TRUE(fixtures::writeNonTiff(dir.file("text.tif")));
    EXPECT_EQ(std::filesystem::file_size(dir.file("empty.tif")), 0u);
    EXPECT_GT(std::filesystem::file_size(dir.file("text.tif")), 8u);
    EXPECT_EQ(TIFFOpen(dir.file("empty.tif").c_str(), "r"), nullptr);
    EXPECT_EQ(TIFFOpen(dir.file("text.tif").c_str(), "r"), nullptr);
}

}  // namespace
