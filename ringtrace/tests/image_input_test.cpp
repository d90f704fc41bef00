// Reading real TIFF files of many kinds into rasters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_input.h"
#include "tiff_fixtures.h"

using namespace ringtrace;

namespace {

std::vector<uint8_t> rgbPattern(uint32_t W, uint32_t H) {
    std::vector<uint8_t> rgb(W * H * 3);
    for (uint32_t y = 0; y < H; ++y) {
        for (uint32_t x = 0; x < W; ++x) {
            uint8_t* p = &rgb[(y * W + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7 + y);
            p[1] = static_cast<uint8_t>(200 - x);
            p[2] = static_cast<uint8_t>(y * 3);
        }
    }
    return rgb;
}

uint32_t expectedWord(const std::vector<uint8_t>& rgb, uint32_t W, uint32_t x, uint32_t y) {
    const uint8_t* p = &rgb[(y * W + x) * 3];
    return p[0] | p[1] << 8 | p[2] << 16 | 0xffu << 24;
}

struct readResult {
    inputStatus status;
    inputImages in;
    std::string message;
    ~readResult() {
        if (in.primary != nullptr) TIFFClose(in.primary);
        if (in.secondary != nullptr) TIFFClose(in.secondary);
        releaseRasters(in);
    }
};

void read(const fixtures::ScratchDir& dir, readResult& r) {
    r.status = readInputs(dir.file("outx.tif").c_str(), dir.file("outx1.tif").c_str(), r.in, r.message);
}

}  // namespace

TEST(ImageInput, RgbFilesOfEveryLayoutGiveTheDocumentedRasterWords) {
    const uint32_t W = 37, H = 29;
    const auto rgb = rgbPattern(W, H);
    const std::vector<fixtures::Layout> layouts = {
        {}, {fixtures::Compression::Lzw, false, 0, 1}, {fixtures::Compression::Deflate, false, 5, 1},
        {fixtures::Compression::None, true, 0, 1}, {fixtures::Compression::Lzw, true, 0, 1}, {fixtures::Compression::None, false, 1, 1}};
    for (size_t k = 0; k < layouts.size(); ++k) {
        fixtures::ScratchDir dir;
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), W, H, rgb, layouts[k]));
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx1.tif"), W, H, rgb, layouts[k]));
        readResult r;
        read(dir, r);
        ASSERT_EQ(r.status, inputStatus::read) << "layout " << k;
        ASSERT_EQ(r.in.width, 37);
        ASSERT_EQ(r.in.height, 29);
        for (uint32_t y = 0; y < H; ++y) {
            for (uint32_t x = 0; x < W; ++x) {
                const auto i = static_cast<size_t>(rasterIndex(static_cast<int>(x), static_cast<int>(y), 37, 29));
                ASSERT_EQ(r.in.primaryRaster[i], expectedWord(rgb, W, x, y)) << "layout " << k << " at " << x << "," << y;
                ASSERT_EQ(r.in.secondaryRaster[i], expectedWord(rgb, W, x, y));
            }
        }
    }
}

TEST(ImageInput, SixteenBitAndFourSampleFilesKeepTheirOwnColours) {
    const uint32_t W = 12, H = 9;
    const auto rgb = rgbPattern(W, H);
    std::vector<uint16_t> rgb16(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i) rgb16[i] = static_cast<uint16_t>(rgb[i] * 257);
    for (auto alpha : {fixtures::Alpha::Unassociated, fixtures::Alpha::Associated, fixtures::Alpha::Unspecified}) {
        std::vector<uint8_t> rgba;
        for (size_t i = 0; i < W * H; ++i) {
            rgba.insert(rgba.end(), {rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2], static_cast<uint8_t>(i * 5)});
        }
        fixtures::ScratchDir dir;
        ASSERT_TRUE(fixtures::writeRgb16(dir.file("outx.tif"), W, H, rgb16));
        ASSERT_TRUE(fixtures::writeRgba8(dir.file("outx1.tif"), W, H, rgba, alpha));
        readResult r;
        read(dir, r);
        ASSERT_EQ(r.status, inputStatus::read);
        for (uint32_t y = 0; y < H; ++y) {
            for (uint32_t x = 0; x < W; ++x) {
                const auto i = static_cast<size_t>(rasterIndex(static_cast<int>(x), static_cast<int>(y), 12, 9));
                EXPECT_EQ(r.in.primaryRaster[i], expectedWord(rgb, W, x, y));
                // The colours are the file's own: alpha is not applied to them (the reader
                // may pass it on in bits 24-31, which nothing reads).
                EXPECT_EQ(r.in.secondaryRaster[i] & 0xffffffu, expectedWord(rgb, W, x, y) & 0xffffffu);
            }
        }
    }
}

TEST(ImageInput, GreyAndPaletteFilesAreDecodedAsThreeSamplesWithoutHarm) {
    const uint32_t W = 20, H = 11;
    std::vector<uint8_t> grey(W * H);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i);
    fixtures::Palette palette;
    for (int i = 0; i < 256; ++i) {
        palette.red.push_back(static_cast<uint16_t>(i * 257));
        palette.green.push_back(static_cast<uint16_t>((255 - i) * 257));
        palette.blue.push_back(0);
    }
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("outx.tif"), W, H, grey));
    ASSERT_TRUE(fixtures::writePalette8(dir.file("outx1.tif"), W, H, grey, palette));
    readResult first, second;
    read(dir, first);
    read(dir, second);
    EXPECT_EQ(first.in.width, 20);
    // Whatever the forced decoding delivers, it is the same every time and stays in bounds.
    EXPECT_EQ(first.status, second.status);
    EXPECT_EQ(std::vector<uint32_t>(first.in.primaryRaster, first.in.primaryRaster + W * H),
              std::vector<uint32_t>(second.in.primaryRaster, second.in.primaryRaster + W * H));
}

TEST(ImageInput, MissingAndBrokenFiles) {
    const auto rgb = rgbPattern(16, 16);
    {
        fixtures::ScratchDir dir;  // nothing there
        readResult r;
        read(dir, r);
        EXPECT_EQ(r.status, inputStatus::noImage);
        EXPECT_EQ(r.in.primary, nullptr);
    }
    {
        fixtures::ScratchDir dir;  // the secondary is missing: a failed read, zeros
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), 16, 16, rgb));
        readResult r;
        read(dir, r);
        EXPECT_EQ(r.status, inputStatus::readFailed);
        EXPECT_EQ(r.in.secondary, nullptr);
        EXPECT_EQ(std::vector<uint32_t>(r.in.secondaryRaster, r.in.secondaryRaster + 256), std::vector<uint32_t>(256, 0));
    }
    for (const char* kind : {"empty", "text", "truncated"}) {
        fixtures::ScratchDir dir;
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("whole.tif"), 16, 16, rgb));
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx1.tif"), 16, 16, rgb));
        const std::string k = kind;
        const bool made = k == "empty"  ? fixtures::writeEmptyFile(dir.file("outx.tif"))
                          : k == "text" ? fixtures::writeNonTiff(dir.file("outx.tif"))
                                        : fixtures::writeTruncatedCopy(dir.file("whole.tif"), dir.file("outx.tif"), 400);
        ASSERT_TRUE(made);
        readResult r;
        read(dir, r);
        EXPECT_NE(r.status, inputStatus::read) << kind;
        EXPECT_NE(r.status, inputStatus::refused) << kind;
    }
}

TEST(ImageInput, ImpossibleSizesAreRefusedBeforeAnyAllocation) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("outx.tif"), 100000, 100000));
    ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("outx1.tif"), 100000, 100000));
    readResult r;
    read(dir, r);
    EXPECT_EQ(r.status, inputStatus::refused);
    EXPECT_NE(r.message.find("100000 x 100000"), std::string::npos);
    EXPECT_EQ(r.in.primaryRaster, nullptr);

    // One pixel over the limit is refused; the limit itself is not.
    for (const auto& [w, h, refused] : {std::tuple{8193u, 4096u, true}, std::tuple{8192u, 4096u, false}}) {
        fixtures::ScratchDir limit;
        ASSERT_TRUE(fixtures::writeHugeClaim(limit.file("outx.tif"), w, h));
        ASSERT_TRUE(fixtures::writeHugeClaim(limit.file("outx1.tif"), w, h));
        readResult l;
        read(limit, l);
        EXPECT_EQ(l.status == inputStatus::refused, refused) << w << "x" << h;
    }

    fixtures::ScratchDir narrow;
    const std::vector<uint8_t> thin(2 * 7 * 3, 100);
    ASSERT_TRUE(fixtures::writeRgb8(narrow.file("outx.tif"), 2, 7, thin));
    ASSERT_TRUE(fixtures::writeRgb8(narrow.file("outx1.tif"), 2, 7, thin));
    readResult n;
    read(narrow, n);
    EXPECT_EQ(n.status, inputStatus::refused);
    EXPECT_NE(n.message.find("too narrow"), std::string::npos);
}

TEST(ImageInput, SecondaryOfAnotherSizeKeepsTheTopLeftOverlap) {
    const auto big = rgbPattern(30, 25), small = rgbPattern(10, 8), primary = rgbPattern(20, 16);
    for (bool larger : {true, false}) {
        fixtures::ScratchDir dir;
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), 20, 16, primary));
        const uint32_t sw = larger ? 30 : 10, sh = larger ? 25 : 8;
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx1.tif"), sw, sh, larger ? big : small));
        readResult r;
        read(dir, r);
        EXPECT_EQ(r.status, inputStatus::readFailed);
        for (uint32_t y = 0; y < 16; ++y) {
            for (uint32_t x = 0; x < 20; ++x) {
                const auto i = static_cast<size_t>(rasterIndex(static_cast<int>(x), static_cast<int>(y), 20, 16));
                const uint32_t expected = (x < sw && y < sh) ? expectedWord(larger ? big : small, sw, x, y) : 0u;
                ASSERT_EQ(r.in.secondaryRaster[i], expected) << x << "," << y;
                ASSERT_EQ(r.in.primaryRaster[i], expectedWord(primary, 20, x, y));
            }
        }
    }
}
