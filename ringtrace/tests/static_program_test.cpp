// ringtrace-static is the same program with libtiff and its codecs linked in: on every input
// it must answer exactly as the shared-library build does, down to libtiff's own messages.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ring_generator.h"
#include "tiff_fixtures.h"

#ifdef RINGTRACE_STATIC_BIN

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Rewrites an uncompressed strip TIFF with `compression`, sixteen rows per strip, every
// other tag the tracer reads kept.
bool recompress(const std::string& from, const std::string& to, uint16_t compression) {
    TIFF* in = TIFFOpen(from.c_str(), "r");
    if (!in) return false;
    TIFF* out = TIFFOpen(to.c_str(), "w");
    if (!out) {
        TIFFClose(in);
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t spp = 0, bps = 0, photometric = 0, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool hasExtra = TIFFGetField(in, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (hasExtra) TIFFSetField(out, TIFFTAG_EXTRASAMPLES, extraCount, extra);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 16u);
    bool ok = TIFFSetField(out, TIFFTAG_COMPRESSION, compression) == 1;
    if (compression == COMPRESSION_WEBP) ok = ok && TIFFSetField(out, TIFFTAG_WEBP_LOSSLESS, 1) == 1;
    std::vector<unsigned char> row(static_cast<size_t>(TIFFScanlineSize(in)));
    for (uint32_t r = 0; ok && r < height; ++r) {
        ok = TIFFReadScanline(in, row.data(), r) == 1 && TIFFWriteScanline(out, row.data(), r) == 1;
    }
    TIFFClose(in);
    TIFFClose(out);
    return ok;
}

struct Runs {
    fixtures::RunResult shared, linkedIn;
    std::string sharedImage, linkedInImage;
};

// Both programs in the same folder, one after the other; new.tif removed between them.
Runs runBoth(const fixtures::ScratchDir& dir) {
    Runs r;
    r.shared = fixtures::runProgram(RINGTRACE_BIN, {}, dir.path());
    r.sharedImage = bytesOf(dir.file("new.tif"));
    std::filesystem::remove(dir.file("new.tif"));
    r.linkedIn = fixtures::runProgram(RINGTRACE_STATIC_BIN, {}, dir.path());
    r.linkedInImage = bytesOf(dir.file("new.tif"));
    return r;
}

void expectSame(const Runs& r, const std::string& what) {
    ASSERT_TRUE(r.linkedIn.started) << what << ": " << r.linkedIn.spawnError;
    EXPECT_EQ(r.linkedIn.termSignal, 0) << what;
    EXPECT_EQ(r.linkedIn.exitCode, r.shared.exitCode) << what << "\n" << r.linkedIn.err;
    EXPECT_EQ(r.linkedIn.out, r.shared.out) << what;
    EXPECT_EQ(r.linkedIn.err, r.shared.err) << what;
    EXPECT_TRUE(r.linkedInImage == r.sharedImage) << what << ": new.tif differs";
}

}  // namespace

// Every codec the shared libtiff has must be in the static one too: a file compressed with it
// traces to the same contour.
TEST(StaticProgram, TracesFilesOfEveryCompressionAsTheSharedBuild) {
    fixtures::ScratchDir source;
    ringgen::RingParams p;
    p.width = 150;
    p.height = 90;
    p.drift = 4;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(source.path(), p, nullptr, &error)) << error;
    const std::pair<uint16_t, const char*> codecs[] = {
        {COMPRESSION_NONE, "none"},    {COMPRESSION_LZW, "LZW"},       {COMPRESSION_ADOBE_DEFLATE, "deflate"},
        {COMPRESSION_PACKBITS, "packbits"}, {COMPRESSION_ZSTD, "zstd"}, {COMPRESSION_LZMA, "lzma"},
        {COMPRESSION_WEBP, "webp"},    {COMPRESSION_LERC, "lerc"},     {COMPRESSION_JPEG, "jpeg"},
    };
    for (const auto& [codec, name] : codecs) {
        if (!TIFFIsCODECConfigured(codec)) continue;
        fixtures::ScratchDir dir;
        for (const char* file : {"outx.tif", "outx1.tif"}) {
            ASSERT_TRUE(recompress(source.file(file), dir.file(file), codec)) << name;
        }
        const Runs r = runBoth(dir);
        EXPECT_EQ(r.shared.exitCode, 0) << name << "\n" << r.shared.err;
        EXPECT_FALSE(r.sharedImage.empty()) << name;
        expectSame(r, name);
    }
}

// What goes wrong is reported in the same words: a missing file, a file cut short, a file
// that is not a TIFF at all.
TEST(StaticProgram, ReportsBrokenInputAsTheSharedBuild) {
    fixtures::ScratchDir source;
    ringgen::RingParams p;
    p.width = 64;
    p.height = 48;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(source.path(), p, nullptr, &error)) << error;
    {
        fixtures::ScratchDir dir;
        std::filesystem::copy_file(source.file("outx.tif"), dir.file("outx.tif"));
        expectSame(runBoth(dir), "second file missing");
    }
    {
        fixtures::ScratchDir dir;
        std::filesystem::copy_file(source.file("outx.tif"), dir.file("outx.tif"));
        ASSERT_TRUE(fixtures::writeTruncatedCopy(source.file("outx1.tif"), dir.file("outx1.tif"), 3000));
        expectSame(runBoth(dir), "second file cut short");
    }
    {
        fixtures::ScratchDir dir;
        std::filesystem::copy_file(source.file("outx1.tif"), dir.file("outx1.tif"));
        std::ofstream(dir.file("outx.tif")) << "not an image\n";
        expectSame(runBoth(dir), "first file not a TIFF");
    }
}

#endif  // RINGTRACE_STATIC_BIN
