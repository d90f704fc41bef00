#pragma once

// Test fixtures: real TIFF files of many kinds written through libtiff, deliberately
// broken files, a self-removing scratch directory and a program runner.
//
// Pixel buffers are interleaved (contiguous) and in storage order: row 0 is the first
// row in the file. The Orientation option only sets the tag, it does not move pixels.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run_program.h"
#include "scratch_dir.h"

namespace fixtures {

enum class Compression { None, Lzw, Deflate };

inline constexpr std::uint32_t kTileSide = 16;

struct Layout {
    Compression compression = Compression::None;
    bool tiled = false;              // kTileSide x kTileSide tiles instead of strips
    std::uint32_t rowsPerStrip = 0;  // strips only; 0 puts the whole image in one strip
    std::uint16_t orientation = 1;   // TIFF Orientation tag value, 1..8
};

// How the fourth sample of an RGBA file is declared in ExtraSamples.
enum class Alpha { Unassociated, Associated, Unspecified };

// A 256-entry colour map with 16-bit components, as TIFF stores it.
struct Palette {
    std::vector<std::uint16_t> red, green, blue;
};

// The low-level description behind all typed writers below.
struct PixelFormat {
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t photometric = 1;            // PHOTOMETRIC_* value
    std::uint16_t sampleFormat = 0;           // SAMPLEFORMAT_* value; 0 omits the tag
    std::vector<std::uint16_t> extraSamples;  // EXTRASAMPLE_* values; empty omits the tag
    const Palette* palette = nullptr;         // required for PHOTOMETRIC_PALETTE
};

// Writes one image. pixels holds width * height * samplesPerPixel samples of
// bitsPerSample bits each. Returns false (libtiff reports why on stderr) on failure.
bool writeTiff(const std::string& path, std::uint32_t width, std::uint32_t height,
               const PixelFormat& format, const void* pixels, std::size_t pixelBytes,
               const Layout& layout = {});

bool writeRgb8(const std::string& path, std::uint32_t width, std::uint32_t height,
               const std::vector<std::uint8_t>& rgb, const Layout& layout = {});
bool writeRgba8(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint8_t>& rgba, Alpha alpha, const Layout& layout = {});
bool writeGrey8(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint8_t>& grey, const Layout& layout = {});
bool writePalette8(const std::string& path, std::uint32_t width, std::uint32_t height,
                   const std::vector<std::uint8_t>& indices, const Palette& palette,
                   const Layout& layout = {});
bool writeRgb16(const std::string& path, std::uint32_t width, std::uint32_t height,
                const std::vector<std::uint16_t>& rgb, const Layout& layout = {});
// 16-bit greyscale without a SampleFormat tag (unsigned by default).
bool writeGrey16(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::vector<std::uint16_t>& grey, const Layout& layout = {});
// 16-bit greyscale with SampleFormat UINT written explicitly.
bool writeGreyUInt16(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::vector<std::uint16_t>& grey, const Layout& layout = {});
bool writeGreyInt16(const std::string& path, std::uint32_t width, std::uint32_t height,
                    const std::vector<std::int16_t>& grey, const Layout& layout = {});
bool writeGreyFloat(const std::string& path, std::uint32_t width, std::uint32_t height,
                    const std::vector<float>& grey, const Layout& layout = {});

// Broken files.
// The first `bytes` bytes of source (all of it when shorter).
bool writeTruncatedCopy(const std::string& source, const std::string& dest, std::size_t bytes);
// A well-formed header and directory for an uncompressed 8-bit RGB image of the given
// size whose single strip holds only 16 bytes.
bool writeHugeClaim(const std::string& path, std::uint32_t width = 100000,
                    std::uint32_t height = 100000);
bool writeEmptyFile(const std::string& path);
bool writeNonTiff(const std::string& path);

// Reads a file the way the tracer does: TIFFReadRGBAImage into width * height words,
// bottom row first, red in bits 0-7. Returns false when the file cannot be opened or
// the reader reports failure.
bool readRgbaRaster(const std::string& path, std::uint32_t* width, std::uint32_t* height,
                    std::vector<std::uint32_t>* raster);

}  // namespace fixtures
