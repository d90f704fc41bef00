// The tracer's file input and output through memory: the same bytes as libtiff's own
// file handling, and failures that end as they did.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graph/large_allocator.h"
#include "graph/page_reuse.h"
#include "loaded_tiff.h"
#include "output_file.h"
#include "render_output.h"
#include "tiff_fixtures.h"

using namespace ringtrace;

namespace {

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> rgbPattern(uint32_t W, uint32_t H) {
    std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 37 + i / 101);
    return rgb;
}

// What TIFFReadRGBAImage gives for the handle: its verdict and the raster.
struct decoded {
    int ok = -1;
    std::vector<uint32_t> raster;
    bool operator==(const decoded&) const = default;
};

decoded decode(TIFF* tif, uint32_t W, uint32_t H) {
    decoded d;
    if (tif == nullptr) return d;
    d.raster.assign(static_cast<size_t>(W) * H, 0);
    d.ok = TIFFReadRGBAImage(tif, W, H, d.raster.data(), 0);
    TIFFClose(tif);
    return d;
}

}  // namespace

// Every layout, and files cut short anywhere, decode from memory exactly as from the file.
TEST(FileInput, LoadedFilesDecodeAsTheFileItself) {
    const uint32_t W = 45, H = 33;
    const auto rgb = rgbPattern(W, H);
    const std::vector<fixtures::Layout> layouts = {{},
                                                   {fixtures::Compression::Lzw, false, 4, 1},
                                                   {fixtures::Compression::Deflate, true, 0, 1},
                                                   {fixtures::Compression::None, false, 1, 3}};
    fixtures::ScratchDir dir;
    for (size_t k = 0; k < layouts.size(); ++k) {
        const std::string whole = dir.file("whole.tif"), cut = dir.file("cut.tif");
        ASSERT_TRUE(fixtures::writeRgb8(whole, W, H, rgb, layouts[k]));
        const size_t size = fileBytes(whole).size();
        for (size_t bytes : {size, size - 1, size * 2 / 3, size / 3, size_t{200}, size_t{9}}) {
            ASSERT_TRUE(fixtures::writeTruncatedCopy(whole, cut, bytes));
            const decoded fromFile = decode(TIFFOpen(cut.c_str(), "r"), W, H);
            const decoded fromMemory = decode(openLoaded(cut.c_str()), W, H);
            EXPECT_EQ(fromMemory, fromFile) << "layout " << k << ", " << bytes << " of " << size << " bytes";
        }
    }
}

TEST(FileInput, WhatCannotBeLoadedIsLeftToLibtiff) {
    fixtures::ScratchDir dir;
    EXPECT_EQ(openLoaded(dir.file("missing.tif").c_str()), nullptr);
    EXPECT_EQ(openLoaded(dir.path().c_str()), nullptr);  // a folder
    ASSERT_TRUE(fixtures::writeEmptyFile(dir.file("empty.tif")));
    EXPECT_EQ(openLoaded(dir.file("empty.tif").c_str()), nullptr);
    ASSERT_TRUE(fixtures::writeNonTiff(dir.file("text.tif")));
    EXPECT_EQ(openLoaded(dir.file("text.tif").c_str()), nullptr);
    // A picture followed by a long (sparse) tail is read through libtiff's mapping, not
    // copied whole: the same pixels, and no 300 MiB block.
    const uint32_t W = 20, H = 10;
    const std::string padded = dir.file("padded.tif");
    ASSERT_TRUE(fixtures::writeRgb8(padded, W, H, rgbPattern(W, H), {}));
    const decoded small = decode(TIFFOpen(padded.c_str(), "r"), W, H);
    ASSERT_EQ(truncate(padded.c_str(), off_t{300} << 20), 0);
    EXPECT_EQ(decode(openLoaded(padded.c_str()), W, H), small);
}

// Two files loaded together into one block decode as each file does on its own, whichever
// handle is closed first, and the block goes only once both are closed; a pair of which
// one file is missing or cut short opens as each would alone.
TEST(FileInput, PairSharesOneBlockAndDecodesAsEachFile) {
    const uint32_t W = 400, H = 300;  // about 360 KB a file: one huge page for both
    auto other = rgbPattern(W, H);
    for (uint8_t& v : other) v = static_cast<uint8_t>(v ^ 0x5a);
    fixtures::ScratchDir dir;
    const std::string a = dir.file("a.tif"), b = dir.file("b.tif"), cut = dir.file("cut.tif");
    ASSERT_TRUE(fixtures::writeRgb8(a, W, H, rgbPattern(W, H), {}));
    ASSERT_TRUE(fixtures::writeRgb8(b, W, H, other, {}));
    const decoded alone[2] = {decode(TIFFOpen(a.c_str(), "r"), W, H), decode(TIFFOpen(b.c_str(), "r"), W, H)};
    ASSERT_EQ(alone[0].ok, 1);
    ASSERT_NE(alone[0], alone[1]);
    for (const bool secondFirst : {false, true}) {
        ringgraph::page_reuse kept;
        TIFF* ta = nullptr;
        TIFF* tb = nullptr;
        openLoadedPair(a.c_str(), b.c_str(), ta, tb);
        ASSERT_NE(ta, nullptr);
        ASSERT_NE(tb, nullptr);
        if (secondFirst) {
            EXPECT_EQ(decode(tb, W, H), alone[1]);
            EXPECT_EQ(kept.held(), 0u);
            EXPECT_EQ(decode(ta, W, H), alone[0]);
        } else {
            EXPECT_EQ(decode(ta, W, H), alone[0]);
            EXPECT_EQ(kept.held(), 0u);
            EXPECT_EQ(decode(tb, W, H), alone[1]);
        }
        EXPECT_EQ(kept.held(), ringgraph::kHugePage);  // one block for the two
    }
    TIFF* ta = nullptr;
    TIFF* tb = nullptr;
    openLoadedPair(dir.file("missing.tif").c_str(), b.c_str(), ta, tb);
    EXPECT_EQ(ta, nullptr);
    EXPECT_EQ(decode(tb, W, H), alone[1]);
    const size_t size = fileBytes(b).size();
    ASSERT_TRUE(fixtures::writeTruncatedCopy(b, cut, size / 2));
    openLoadedPair(a.c_str(), cut.c_str(), ta, tb);
    EXPECT_EQ(decode(ta, W, H), alone[0]);
    EXPECT_EQ(decode(tb, W, H), decode(TIFFOpen(cut.c_str(), "r"), W, H));
}

// The output made in memory is byte for byte the one libtiff writes to a file, for images
// of one row up to several huge pages.
TEST(FileOutput, MemoryImageIsTheFileLibtiffWrites) {
    fixtures::ScratchDir dir;
    for (const auto& [W, H] : std::vector<std::pair<int32_t, int32_t>>{{7, 1}, {37, 23}, {1500, 1700}}) {
        const std::vector<contourPixel> contour = {{0, 0}, {W - 1, H - 1}, {W / 2, H / 3}};
        TIFF* file = TIFFOpen(dir.file("file.tif").c_str(), "w");
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(writeContour(file, contour, W, H));
        TIFFClose(file);
        // Without a size hint, with one far too small, about right, and far too large: the
        // hint only sets aside room, and the bytes are the same.
        const size_t pixels = static_cast<size_t>(W) * static_cast<size_t>(H);
        for (const size_t hint : {size_t{0}, size_t{1}, pixels + 16 * static_cast<size_t>(H) + 4096, size_t{8} << 20}) {
            pendingOutput pending;
            std::string why;
            TIFF* memory = pending.open(dir.file("memory.tif"), why);
            ASSERT_NE(memory, nullptr) << why;
            if (hint > 0) pending.expect(hint);
            EXPECT_TRUE(writeContour(memory, contour, W, H));
            TIFFClose(memory);
            ASSERT_TRUE(pending.commit(why)) << why;
            EXPECT_EQ(fileBytes(dir.file("memory.tif")), fileBytes(dir.file("file.tif")))
                << W << " x " << H << ", room for " << hint << " bytes";
        }
    }
}

// A file system that refuses the bytes: commit fails with a message naming the file and
// the reason, and neither the final file nor the temporary one is left behind.
TEST(FileOutput, AFailedWriteEndsInAClearMessage) {
    fixtures::ScratchDir dir;
    const std::string target = dir.file("new.tif");
    pendingOutput pending;
    std::string why;
    TIFF* out = pending.open(target, why);
    ASSERT_NE(out, nullptr) << why;
    EXPECT_TRUE(writeContour(out, {{3, 4}}, 300, 200));
    TIFFClose(out);
    const std::string temporary = pending.temporaryPath();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1000;  // the image is 60000 bytes
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool committed = pending.commit(why);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(committed);
    EXPECT_NE(why.find("writing " + target + " failed: "), std::string::npos) << why;
    EXPECT_FALSE(std::ifstream(target).good());
    EXPECT_FALSE(std::ifstream(temporary).good());
}
