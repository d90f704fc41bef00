#include "grey_image.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tiff_fixtures.h"

namespace {

using ringview::GreyImage;
using ringview::SampleKind;

GreyImage readOk(const std::string& path) {
    GreyImage g;
    std::string error;
    EXPECT_TRUE(ringview::readGreyTiff(path, &g, &error)) << error;
    return g;
}

// Rewrites ImageWidth and ImageLength in the first directory of a little-endian TIFF.
bool setSize(const std::string& path, std::uint32_t width, std::uint32_t height) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    auto get = [&](std::streamoff at, int bytes) {
        unsigned char b[4] = {};
        f.seekg(at);
        f.read(reinterpret_cast<char*>(b), bytes);
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[i];
        return v;
    };
    if (get(0, 2) != 0x4949) return false;
    const std::uint32_t ifd = get(4, 4);
    const std::uint32_t entries = get(ifd, 2);
    int patched = 0;
    for (std::uint32_t e = 0; e < entries; ++e) {
        const std::streamoff entry = ifd + 2 + 12 * e;
        const std::uint32_t tag = get(entry, 2);
        if (tag != 256 && tag != 257) continue;
        const std::uint32_t v = tag == 256 ? width : height;
        // Stored as LONG so any size fits.
        const unsigned char bytes[10] = {4,
                                         0,
                                         1,
                                         0,
                                         0,
                                         0,
                                         static_cast<unsigned char>(v),
                                         static_cast<unsigned char>(v >> 8),
                                         static_cast<unsigned char>(v >> 16),
                                         static_cast<unsigned char>(v >> 24)};
        f.seekp(entry + 2);
        f.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
        ++patched;
    }
    return patched == 2 && f.good();
}

std::string readFails(const std::string& path) {
    GreyImage g;
    std::string error;
    EXPECT_FALSE(ringview::readGreyTiff(path, &g, &error));
    EXPECT_FALSE(error.empty());
    return error;
}

TEST(GreyTiff, ReadsEachSampleTypeInStoredRowOrder) {
    fixtures::ScratchDir dir;
    // 3 x 2, stored top row first; the reader must not flip anything.
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("u8.tif"), 3, 2, {1, 2, 3, 4, 5, 250}));
    ASSERT_TRUE(fixtures::writeGreyUInt16(dir.file("u16.tif"), 3, 2, {0, 1, 2, 3, 4, 65535}));
    ASSERT_TRUE(fixtures::writeGreyInt16(dir.file("s16.tif"), 3, 2, {-32768, -1, 0, 1, 2, 32767}));
    ASSERT_TRUE(
        fixtures::writeGreyFloat(dir.file("f32.tif"), 3, 2, {-1.5f, 0, 0.25f, 1, 2, 1e30f}));

    GreyImage g = readOk(dir.file("u8.tif"));
    EXPECT_EQ(g.width, 3u);
    EXPECT_EQ(g.height, 2u);
    EXPECT_EQ(g.kind, SampleKind::Unsigned);
    EXPECT_EQ(g.bits, 8);
    EXPECT_EQ(g.values, (std::vector<double>{1, 2, 3, 4, 5, 250}));

    g = readOk(dir.file("u16.tif"));
    EXPECT_EQ(g.kind, SampleKind::Unsigned);
    EXPECT_EQ(g.bits, 16);
    EXPECT_EQ(g.values, (std::vector<double>{0, 1, 2, 3, 4, 65535}));

    g = readOk(dir.file("s16.tif"));
    EXPECT_EQ(g.kind, SampleKind::Signed);
    EXPECT_EQ(g.values, (std::vector<double>{-32768, -1, 0, 1, 2, 32767}));

    g = readOk(dir.file("f32.tif"));
    EXPECT_EQ(g.kind, SampleKind::Float);
    EXPECT_EQ(g.bits, 32);
    EXPECT_EQ(g.values, (std::vector<double>{-1.5, 0, 0.25, 1, 2, double{1e30f}}));
}

TEST(GreyTiff, ReadsCompressedMultiStripFiles) {
    fixtures::ScratchDir dir;
    std::vector<std::uint8_t> grey(40 * 9);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 7);
    fixtures::Layout layout;
    layout.compression = fixtures::Compression::Lzw;
    layout.rowsPerStrip = 2;
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("lzw.tif"), 40, 9, grey, layout));
    const GreyImage g = readOk(dir.file("lzw.tif"));
    ASSERT_EQ(g.values.size(), grey.size());
    for (std::size_t i = 0; i < grey.size(); ++i) EXPECT_EQ(g.values[i], grey[i]) << i;
}

TEST(GreyTiff, NotesMinIsWhite) {
    fixtures::ScratchDir dir;
    fixtures::PixelFormat format;
    format.photometric = 0;  // min-is-white
    const std::uint8_t px[2] = {0, 9};
    ASSERT_TRUE(fixtures::writeTiff(dir.file("w.tif"), 2, 1, format, px, sizeof px));
    const GreyImage g = readOk(dir.file("w.tif"));
    EXPECT_TRUE(g.minIsWhite);
    EXPECT_EQ(g.values, (std::vector<double>{0, 9}));
}

TEST(GreyTiff, RefusesWhatItCannotShowAndNamesTheFile) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("rgb.tif"), 2, 1, {1, 2, 3, 4, 5, 6}));
    fixtures::Layout tiled;
    tiled.tiled = true;
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("tiled.tif"), 20, 20,
                                     std::vector<std::uint8_t>(400, 1), tiled));
    ASSERT_TRUE(fixtures::writeNonTiff(dir.file("text.tif")));
    ASSERT_TRUE(fixtures::writeEmptyFile(dir.file("empty.tif")));
    fixtures::Palette palette;
    palette.red = palette.green = palette.blue = std::vector<std::uint16_t>(256, 0);
    ASSERT_TRUE(fixtures::writePalette8(dir.file("palette.tif"), 2, 1, {0, 1}, palette));

    for (const char* name :
         {"rgb.tif", "tiled.tif", "text.tif", "empty.tif", "palette.tif", "missing.tif"}) {
        const std::string error = readFails(dir.file(name));
        EXPECT_NE(error.find(dir.file(name)), std::string::npos) << error;
    }
}

TEST(GreyTiff, ATruncatedFileIsAnErrorNotGarbage) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("whole.tif"), 64, 64,
                                     std::vector<std::uint8_t>(64 * 64, 77)));
    ASSERT_TRUE(fixtures::writeTruncatedCopy(dir.file("whole.tif"), dir.file("cut.tif"), 2000));
    readFails(dir.file("cut.tif"));
    ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("huge.tif")));
    readFails(dir.file("huge.tif"));
    // A grey header that claims far more pixels than the file holds is refused before
    // anything is allocated for them.
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("claim.tif"), 2, 2, {1, 2, 3, 4}));
    ASSERT_TRUE(setSize(dir.file("claim.tif"), 100000, 100000));
    EXPECT_NE(readFails(dir.file("claim.tif")).find("100000"), std::string::npos);
}

}  // namespace
