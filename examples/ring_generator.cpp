#include "ring_generator.h"

#include <cmath>
#include <cstddef>

#include "prng.h"
#include "ridge_shape.h"

namespace ringgen {

namespace {

constexpr int kOrientationOffset = 64;
constexpr double kOrientationScale = 60.0;
// The support band is wider than the bright ridge, as a smoothed weight map would be.
constexpr double kSupportWidthFactor = 2.0;

struct ColumnInfo {
    double row;
    double normal;  // sqrt(1 + slope^2): turns a vertical offset into a perpendicular one
    std::uint8_t green;
    std::uint8_t blue;
};

std::vector<ColumnInfo> describeColumns(const RingParams& p, const RidgeShape& shape) {
    std::vector<ColumnInfo> cols(static_cast<std::size_t>(p.width));
    for (int x = 0; x < p.width; ++x) {
        const double slope = shape.slopeAt(x);
        const double n = std::sqrt(1.0 + slope * slope);
        // tx = 1/n >= 1/sqrt(1 + 0.8^2), so green is never 64 and the vector never vanishes.
        const long g = kOrientationOffset + std::lround(kOrientationScale / n);
        const long b = kOrientationOffset + std::lround(kOrientationScale * slope / n);
        cols[static_cast<std::size_t>(x)] = {shape.rowAt(x), n, static_cast<std::uint8_t>(g),
                                             static_cast<std::uint8_t>(b)};
    }
    return cols;
}

// Blend of a noisy far value and a noisy near value by the profile weight w in [0, 1].
// A convex combination never leaves the union of the two ranges, so red stays <= 127.
std::uint8_t blend(SplitMix64& rng, const ValueRange& far, const ValueRange& near, double w) {
    const int a = rng.between(far.lo, far.hi);
    const int b = rng.between(near.lo, near.hi);
    return static_cast<std::uint8_t>(std::lround(a * (1.0 - w) + b * w));
}

}  // namespace

std::vector<double> ridgeCurve(const RingParams& p) {
    SplitMix64 rng(p.seed);
    const RidgeShape shape(p, rng);
    std::vector<double> rows(static_cast<std::size_t>(p.width));
    for (int x = 0; x < p.width; ++x) rows[static_cast<std::size_t>(x)] = shape.rowAt(x);
    return rows;
}

bool generateRing(const RingParams& p, RingImages* out, std::string* error) {
    if (!validateParams(p, error)) return false;
    SplitMix64 rng(p.seed);
    const RidgeShape shape(p, rng);
    const std::vector<ColumnInfo> cols = describeColumns(p, shape);

    const std::size_t pixels = static_cast<std::size_t>(p.width) * p.height;
    out->width = p.width;
    out->height = p.height;
    out->primary.assign(pixels * 3, 0);
    out->secondary.assign(pixels * 3, 0);
    out->ridgeRow.resize(cols.size());
    for (std::size_t x = 0; x < cols.size(); ++x) out->ridgeRow[x] = cols[x].row;

    const double ridgeVar = 2.0 * p.ridgeSigma * p.ridgeSigma;
    const double supportVar = ridgeVar * kSupportWidthFactor * kSupportWidthFactor;
    std::size_t i = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x, i += 3) {
            const ColumnInfo& c = cols[static_cast<std::size_t>(x)];
            const double d = (y - c.row) / c.normal;
            const double d2 = d * d;
            out->primary[i] = blend(rng, p.background, p.ridge, std::exp(-d2 / ridgeVar));
            out->primary[i + 1] = c.green;
            out->primary[i + 2] = c.blue;
            const std::uint8_t support =
                blend(rng, p.supportLow, p.supportHigh, std::exp(-d2 / supportVar));
            out->secondary[i] = p.zeroSupport ? 0 : support;
        }
    }
    return true;
}

std::vector<std::uint32_t> toRgbaRaster(const std::vector<std::uint8_t>& rgb, int width,
                                        int height) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    std::vector<std::uint32_t> raster(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = rgb.data() + y * w * 3;
        std::uint32_t* dst = raster.data() + (h - 1 - y) * w;
        for (std::size_t x = 0; x < w; ++x, src += 3) {
            dst[x] =
                src[0] | (std::uint32_t{src[1]} << 8) | (std::uint32_t{src[2]} << 16) | 0xFF000000u;
        }
    }
    return raster;
}

}  // namespace ringgen
