#pragma once

// Synthetic input pair for the tracer: a closed, wobbly ring unrolled into polar
// coordinates (columns are the angle, rows the radius), so the ridge is one smooth,
// periodic curve y(x) across the image.

#include <cstdint>
#include <string>
#include <vector>

namespace ringgen {

inline constexpr const char* kPrimaryName = "outx.tif";
inline constexpr const char* kSecondaryName = "outx1.tif";

inline constexpr int kMinWidth = 8;
inline constexpr int kMinHeight = 16;
inline constexpr int kMaxSide = 16384;

// Inclusive range of byte values. Every red value stays <= 127 because the tracer
// reads red as a signed byte when it prices edges.
struct ValueRange {
    int lo;
    int hi;
};

struct RingParams {
    int width = 360;
    int height = 200;
    std::uint64_t seed = 1;
    // Peak deviation of the ridge from the centre row, as a fraction of the height.
    // Clamped so the ridge stays inside rows 6..height-7 and its slope stays below 0.8.
    double amplitude = 0.12;
    // Standard deviation, in pixels, of the Gaussian profile across the ridge.
    double ridgeSigma = 1.5;
    ValueRange background{10, 45};    // primary red far from the ridge
    ValueRange ridge{110, 127};       // primary red on the ridge line
    ValueRange supportLow{5, 30};     // secondary red far from the ridge
    ValueRange supportHigh{90, 127};  // secondary red on the ridge line
    // Secondary red 0 everywhere: a pathological input with no support at all.
    bool zeroSupport = false;
    // Rows by which the ridge leaves the exit column (width - 3) below the row where it
    // crosses the entry column 1: a spiral turn instead of a closed ring. The cheapest
    // path then does not close, and the tracer's search needs many iterations to find
    // the best one that does. 0 (the default) gives a ring that closes exactly.
    double drift = 0.0;
};

// Interleaved 8-bit RGB images, top row first, plus the ground truth.
struct RingImages {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> primary;    // R: weight, G/B: tangent field offset by 64
    std::vector<std::uint8_t> secondary;  // R: support weight, G = B = 0
    std::vector<double> ridgeRow;         // ridge row y(x) for every column x
};

// Rejects sizes outside [kMinWidth|kMinHeight, kMaxSide], value ranges outside 0..127
// or reversed, and non-positive or non-finite shape parameters.
bool validateParams(const RingParams& p, std::string* error);

// Ridge row for every column. Without drift it is periodic with period width - 4, so the
// entry column 1 and the exit column width - 3 of the tracer share the same row exactly;
// with drift the exit column's row lies `drift` rows below the entry column's.
std::vector<double> ridgeCurve(const RingParams& p);

bool generateRing(const RingParams& p, RingImages* out, std::string* error);

// Writes dir/outx.tif and dir/outx1.tif (8-bit RGB, uncompressed, top row first).
// ridgeRow (optional) receives y(x) for every column.
bool writeRingPair(const std::string& dir, const RingParams& p, std::vector<double>* ridgeRow,
                   std::string* error);

// The raster libtiff's RGBA reader would deliver for an interleaved RGB image:
// bottom row first, red in bits 0-7, green 8-15, blue 16-23, alpha 255 in 24-31.
// Lets benchmarks feed large inputs without a round trip through files.
std::vector<std::uint32_t> toRgbaRaster(const std::vector<std::uint8_t>& rgb, int width,
                                        int height);

}  // namespace ringgen
