// Every kind the fixtures write must read back as the pixels given, or the tracer's
// input tests would be testing a broken file instead of the tracer.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tiff_fixtures.h"

namespace {

using fixtures::Layout;

// Odd sizes: the last strip is short and the edge tiles are padded.
constexpr std::uint32_t kW = 37;
constexpr std::uint32_t kH = 21;

std::vector<std::uint8_t> pattern(std::size_t samples, std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> v(samples * w * h);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 5);
    return v;
}

std::uint32_t word(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return r | (g << 8) | (b << 16) | (std::uint32_t{a} << 24);
}

// Raster word of storage row y, column x, as TIFFReadRGBAImage lays out a file whose
// Orientation is top-left.
std::uint32_t at(const std::vector<std::uint32_t>& raster, std::uint32_t x, std::uint32_t y) {
    return raster[(kH - 1 - y) * kW + x];
}

std::vector<std::uint32_t> readBack(const std::string& path) {
    std::uint32_t w = 0, h = 0;
    std::vector<std::uint32_t> raster;
    EXPECT_TRUE(fixtures::readRgbaRaster(path, &w, &h, &raster)) << path;
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
    return raster;
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

template <typename T>
std::vector<T> readScanlines(TIFF* t, std::uint32_t w, std::uint32_t h) {
    std::vector<T> all(std::size_t{w} * h);
    for (std::uint32_t y = 0; y < h; ++y) {
        EXPECT_EQ(TIFFReadScanline(t, all.data() + std::size_t{y} * w, y, 0), 1);
    }
    return all;
}

struct LayoutCase {
    const char* name;
    Layout layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class Rgb8Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Rgb8Layouts, ReadsBackThePixelsWritten) {
    fixtures::ScratchDir dir;
    const std::string path = dir.file("rgb.tif");
    const auto rgb = pattern(3, kW, kH);
    ASSERT_TRUE(fixtures::writeRgb8(path, kW, kH, rgb, GetParam().layout));
    const auto raster = readBack(path);
    for (std::uint32_t y = 0; y < kH; ++y) {
        for (std::uint32_t x = 0; x < kW; ++x) {
            const std::size_t i = (std::size_t{y} * kW + x) * 3;
            ASSERT_EQ(at(raster, x, y), word(rgb[i], rgb[i + 1], rgb[i + 2])) << x << "," << y;
        }
    }
}

TEST_P(Rgb8Layouts, WritesTheRequestedStructure) {
    fixtures::ScratchDir dir;
    const std::string path = dir.file("rgb.tif");
    const Layout& layout = GetParam().layout;
    ASSERT_TRUE(fixtures::writeRgb8(path, kW, kH, pattern(3, kW, kH), layout));
    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    std::uint16_t compression = 0;
    TIFFGetField(t.get(), TIFFTAG_COMPRESSION, &compression);
    const std::uint16_t expected =
        layout.compression == fixtures::Compression::Lzw       ? COMPRESSION_LZW
        : layout.compression == fixtures::Compression::Deflate ? COMPRESSION_ADOBE_DEFLATE
                                                               : COMPRESSION_NONE;
    EXPECT_EQ(compression, expected);
    EXPECT_EQ(TIFFIsTiled(t.get()) != 0, layout.tiled);
    const std::uint32_t rows = layout.rowsPerStrip ? layout.rowsPerStrip : kH;
    const std::uint32_t strips =
        layout.tiled ? ((kW + 15) / 16) * ((kH + 15) / 16) : (kH + rows - 1) / rows;
    EXPECT_EQ(layout.tiled ? TIFFNumberOfTiles(t.get()) : TIFFNumberOfStrips(t.get()), strips);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Rgb8Layouts,
    ::testing::Values(LayoutCase{"SingleStrip", {}},
                      LayoutCase{"MultiStrip", {fixtures::Compression::None, false, 4, 1}},
                      LayoutCase{"LzwStrips", {fixtures::Compression::Lzw, false, 5, 1}},
                      LayoutCase{"DeflateStrips", {fixtures::Compression::Deflate, false, 1, 1}},
                      LayoutCase{"Tiled", {fixtures::Compression::None, true, 0, 1}},
                      LayoutCase{"LzwTiled", {fixtures::Compression::Lzw, true, 0, 1}},
                      LayoutCase{"DeflateTiled", {fixtures::Compression::Deflate, true, 0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Rgb8Orientation, BottomLeftStoresTheBottomRowFirst) {
    fixtures::ScratchDir dir;
    const auto rgb = pattern(3, kW, kH);
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("o4.tif"), kW, kH, rgb,
                                    {fixtures::Compression::None, false, 0, ORIENTATION_BOTLEFT}));
    const auto raster = readBack(dir.file("o4.tif"));
    // The reader delivers bottom row first, which for this file is storage row 0.
    for (std::uint32_t x = 0; x < kW; ++x) {
        EXPECT_EQ(raster[x], word(rgb[x * 3], rgb[x * 3 + 1], rgb[x * 3 + 2]));
    }
}

TEST(Rgb8Orientation, TopRightMirrorsColumns) {
    fixtures::ScratchDir dir;
    const auto rgb = pattern(3, kW, kH);
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("o2.tif"), kW, kH, rgb,
                                    {fixtures::Compression::None, false, 0, ORIENTATION_TOPRIGHT}));
    const auto raster = readBack(dir.file("o2.tif"));
    EXPECT_EQ(at(raster, kW - 1, 0), word(rgb[0], rgb[1], rgb[2]));
}

class Rgba8Alpha : public ::testing::TestWithParam<fixtures::Alpha> {};

TEST_P(Rgba8Alpha, DeclaresTheAlphaKindAndKeepsOpaquePixels) {
    fixtures::ScratchDir dir;
    const std::string path = dir.file("rgba.tif");
    auto rgba = pattern(4, kW, kH);
    for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;  // no premultiplication
    ASSERT_TRUE(fixtures::writeRgba8(path, kW, kH, rgba, GetParam()));
    {
        TiffPtr t(TIFFOpen(path.c_str(), "r"));
        ASSERT_TRUE(t);
        std::uint16_t spp = 0, count = 0;
        std::uint16_t* kinds = nullptr;
        TIFFGetField(t.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
        ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_EXTRASAMPLES, &count, &kinds), 1);
        EXPECT_EQ(spp, 4);
        ASSERT_EQ(count, 1);
        const std::uint16_t expected =
            GetParam() == fixtures::Alpha::Associated     ? EXTRASAMPLE_ASSOCALPHA
            : GetParam() == fixtures::Alpha::Unassociated ? EXTRASAMPLE_UNASSALPHA
                                                          : EXTRASAMPLE_UNSPECIFIED;
        EXPECT_EQ(kinds[0], expected);
    }
    const auto raster = readBack(path);
    const std::size_t i = (std::size_t{3} * kW + 5) * 4;
    EXPECT_EQ(at(raster, 5, 3), word(rgba[i], rgba[i + 1], rgba[i + 2]));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Rgba8Alpha,
                         ::testing::Values(fixtures::Alpha::Unassociated,
                                           fixtures::Alpha::Associated,
                                           fixtures::Alpha::Unspecified));

TEST(Grey8, ReadsBackAsEqualComponents) {
    fixtures::ScratchDir dir;
    const auto grey = pattern(1, kW, kH);
    ASSERT_TRUE(
        fixtures::writeGrey8(dir.file("g.tif"), kW, kH, grey, {fixtures::Compression::Lzw}));
    const auto raster = readBack(dir.file("g.tif"));
    const std::uint8_t v = grey[2 * kW + 9];
    EXPECT_EQ(at(raster, 9, 2), word(v, v, v));
}

TEST(Palette8, ReadsBackThroughTheColourMap) {
    fixtures::ScratchDir dir;
    fixtures::Palette pal;
    for (int i = 0; i < 256; ++i) {
        // Full 16-bit entries, so libtiff does not take the map for an 8-bit one.
        pal.red.push_back(static_cast<std::uint16_t>(i * 257));
        pal.green.push_back(static_cast<std::uint16_t>((255 - i) * 257));
        pal.blue.push_back(static_cast<std::uint16_t>(((i * 3) & 255) * 257));
    }
    const auto idx = pattern(1, kW, kH);
    ASSERT_TRUE(fixtures::writePalette8(dir.file("p.tif"), kW, kH, idx, pal));
    const auto raster = readBack(dir.file("p.tif"));
    for (std::uint32_t x = 0; x < kW; ++x) {
        const int i = idx[4 * kW + x];
        ASSERT_EQ(at(raster, x, 4),
                  word(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>((i * 3) & 255)));
    }
    EXPECT_FALSE(fixtures::writePalette8(dir.file("bad.tif"), kW, kH, idx, fixtures::Palette{}));
}

TEST(Rgb16, ReadsBackAsTheHighBytes) {
    fixtures::ScratchDir dir;
    std::vector<std::uint16_t> rgb(std::size_t{kW} * kH * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint16_t>(i * 331);
    ASSERT_TRUE(fixtures::writeRgb16(dir.file("c16.tif"), kW, kH, rgb, {{}, true}));
    const auto raster = readBack(dir.file("c16.tif"));
    const std::size_t i = (std::size_t{7} * kW + 30) * 3;
    EXPECT_EQ(at(raster, 30, 7), word(rgb[i] >> 8, rgb[i + 1] >> 8, rgb[i + 2] >> 8));
}

TEST(Grey16, ReadsBackAsTheHighByte) {
    fixtures::ScratchDir dir;
    std::vector<std::uint16_t> grey(std::size_t{kW} * kH);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint16_t>(i * 97);
    ASSERT_TRUE(fixtures::writeGrey16(dir.file("g16.tif"), kW, kH, grey));
    const auto raster = readBack(dir.file("g16.tif"));
    const std::uint8_t v = grey[10 * kW + 11] >> 8;
    EXPECT_EQ(at(raster, 11, 10), word(v, v, v));
}

// The RGBA reader cannot decode these, so they are checked sample by sample.
template <typename T>
void expectSamples(const std::string& path, std::uint16_t bits, std::uint16_t format,
                   const std::vector<T>& written) {
    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    std::uint16_t b = 0, f = 0;
    TIFFGetField(t.get(), TIFFTAG_BITSPERSAMPLE, &b);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLEFORMAT, &f);
    EXPECT_EQ(b, bits);
    EXPECT_EQ(f, format);
    EXPECT_EQ(readScanlines<T>(t.get(), kW, kH), written);
}

TEST(TypedGrey, Int16KeepsNegativeSamples) {
    fixtures::ScratchDir dir;
    std::vector<std::int16_t> grey(std::size_t{kW} * kH);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<std::int16_t>(i * 211 - 30000);
    ASSERT_TRUE(fixtures::writeGreyInt16(dir.file("i16.tif"), kW, kH, grey,
                                         {fixtures::Compression::Deflate, false, 3, 1}));
    expectSamples(dir.file("i16.tif"), 16, SAMPLEFORMAT_INT, grey);
}

TEST(TypedGrey, UInt16WritesTheSampleFormatTag) {
    fixtures::ScratchDir dir;
    std::vector<std::uint16_t> grey(std::size_t{kW} * kH);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint16_t>(65535 - i);
    ASSERT_TRUE(fixtures::writeGreyUInt16(dir.file("u16.tif"), kW, kH, grey));
    expectSamples(dir.file("u16.tif"), 16, SAMPLEFORMAT_UINT, grey);
    TiffPtr t(TIFFOpen(dir.file("u16.tif").c_str(), "r"));
    std::uint16_t f = 0;
    EXPECT_EQ(TIFFGetField(t.get(), TIFFTAG_SAMPLEFORMAT, &f), 1);
}

TEST(TypedGrey, FloatKeepsExactValues) {
    fixtures::ScratchDir dir;
    std::vector<float> grey(std::size_t{kW} * kH);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<float>(i) * -0.37f + 1e-3f;
    ASSERT_TRUE(fixtures::writeGreyFloat(dir.file("f.tif"), kW, kH, grey,
                                         {fixtures::Compression::Lzw, false, 2, 1}));
    expectSamples(dir.file("f.tif"), 32, SAMPLEFORMAT_IEEEFP, grey);
}

TEST(WriteTiff, RefusesBuffersOfTheWrongSize) {
    fixtures::ScratchDir dir;
    EXPECT_FALSE(fixtures::writeRgb8(dir.file("short.tif"), kW, kH, pattern(3, kW, kH - 1)));
    EXPECT_FALSE(fixtures::writeGrey8(dir.file("zero.tif"), 0, kH, {}));
}

}  // namespace
