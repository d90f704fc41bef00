// The generated scene must be one the tracer can close, and must stay inside the
// byte ranges the tracer's cost model reads correctly.

#include "ring_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using ringgen::RingImages;
using ringgen::RingParams;

RingParams params(int w, int h, std::uint64_t seed) {
    RingParams p;
    p.width = w;
    p.height = h;
    p.seed = seed;
    return p;
}

RingImages generate(const RingParams& p) {
    RingImages img;
    std::string error;
    EXPECT_TRUE(ringgen::generateRing(p, &img, &error)) << error;
    return img;
}

std::uint8_t sample(const std::vector<std::uint8_t>& rgb, int w, int x, int y, int c) {
    return rgb[(static_cast<std::size_t>(y) * w + x) * 3 + c];
}

bool valid(const RingParams& p) {
    std::string error;
    const bool ok = ringgen::validateParams(p, &error);
    EXPECT_EQ(ok, error.empty()) << error;
    return ok;
}

TEST(RingParams, SizeLimits) {
    EXPECT_TRUE(valid(params(8, 16, 1)));
    EXPECT_TRUE(valid(params(16384, 16384, 1)));
    EXPECT_FALSE(valid(params(7, 200, 1)));
    EXPECT_FALSE(valid(params(360, 15, 1)));
    EXPECT_FALSE(valid(params(16385, 200, 1)));
    EXPECT_FALSE(valid(params(360, 16385, 1)));
    EXPECT_FALSE(valid(params(-360, 200, 1)));
}

TEST(RingParams, ValueRangesMustStayWithinSignedBytes) {
    RingParams p;
    p.ridge = {110, 128};
    EXPECT_FALSE(valid(p));
    p = RingParams{};
    p.background = {-1, 45};
    EXPECT_FALSE(valid(p));
    p = RingParams{};
    p.supportHigh = {127, 90};
    EXPECT_FALSE(valid(p));
    p = RingParams{};
    p.supportLow = {0, 127};
    EXPECT_TRUE(valid(p));
}

TEST(RingParams, ShapeParameters) {
    RingParams p;
    p.ridgeSigma = 0.0;
    EXPECT_FALSE(valid(p));
    p.ridgeSigma = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(valid(p));
    p = RingParams{};
    p.amplitude = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(valid(p));
    p.amplitude = 0.0;  // a flat ring is fine
    EXPECT_TRUE(valid(p));
    RingImages img;
    EXPECT_FALSE(ringgen::generateRing(params(4, 4, 1), &img, nullptr));
}

struct Size {
    int w, h;
};

class RidgeShapes : public ::testing::TestWithParam<Size> {};

// The tracer enters at column 1 and leaves at column W - 3; the ring closes only if
// both columns hold the same ridge row.
TEST_P(RidgeShapes, ClosesExactlyAndStaysInsideTheBand) {
    const auto [w, h] = GetParam();
    for (std::uint64_t seed = 0; seed < 40; ++seed) {
        const auto rows = ringgen::ridgeCurve(params(w, h, seed));
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(w));
        EXPECT_EQ(rows[1], rows[w - 3]) << "seed " << seed;
        EXPECT_EQ(rows[0], rows[w - 4]) << "period is W - 4";
        for (int x = 0; x < w; ++x) {
            ASSERT_GE(rows[x], 6.0) << "seed " << seed << " x " << x;
            ASSERT_LE(rows[x], h - 7.0) << "seed " << seed << " x " << x;
            if (x > 0) {
                ASSERT_LE(std::fabs(rows[x] - rows[x - 1]), 0.8) << "too steep";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generator, RidgeShapes,
                         ::testing::Values(Size{360, 200}, Size{8, 16}, Size{9, 17}, Size{40, 400},
                                           Size{2000, 30}, Size{64, 64}));

TEST(RidgeShapes, SeedChangesTheShape) {
    EXPECT_NE(ringgen::ridgeCurve(params(360, 200, 1)), ringgen::ridgeCurve(params(360, 200, 2)));
    EXPECT_EQ(ringgen::ridgeCurve(params(360, 200, 5)), ringgen::ridgeCurve(params(360, 200, 5)));
}

TEST(RingImages, ValuesStayWithinThePromisedRanges) {
    for (const Size s : {Size{360, 200}, Size{8, 16}, Size{31, 47}}) {
        for (std::uint64_t seed : {1u, 2u, 99u}) {
            const RingParams p = params(s.w, s.h, seed);
            const RingImages img = generate(p);
            ASSERT_EQ(img.primary.size(), static_cast<std::size_t>(s.w) * s.h * 3);
            ASSERT_EQ(img.secondary.size(), img.primary.size());
            for (std::size_t i = 0; i < img.primary.size(); i += 3) {
                const int r = img.primary[i], g = img.primary[i + 1], b = img.primary[i + 2];
                ASSERT_GE(r, p.background.lo);
                ASSERT_LE(r, p.ridge.hi);
                ASSERT_LE(g, 127);
                ASSERT_LE(b, 127);
                ASSERT_FALSE(g == 64 && b == 64) << "zero-length orientation at " << i / 3;
                ASSERT_GE(img.secondary[i], p.supportLow.lo);
                ASSERT_LE(img.secondary[i], p.supportHigh.hi);
                ASSERT_EQ(img.secondary[i + 1], 0);
                ASSERT_EQ(img.secondary[i + 2], 0);
            }
        }
    }
}

TEST(RingImages, BrightestRowOfEachColumnIsOnTheRidge) {
    const RingParams p = params(360, 200, 3);
    const RingImages img = generate(p);
    ASSERT_EQ(img.ridgeRow, ringgen::ridgeCurve(p));
    for (int x = 0; x < p.width; ++x) {
        int best = 0, bestSupport = 0;
        for (int y = 1; y < p.height; ++y) {
            if (sample(img.primary, p.width, x, y, 0) > sample(img.primary, p.width, x, best, 0)) {
                best = y;
            }
            if (sample(img.secondary, p.width, x, y, 0) >
                sample(img.secondary, p.width, x, bestSupport, 0)) {
                bestSupport = y;
            }
        }
        EXPECT_LT(std::fabs(best - img.ridgeRow[x]), 2.0) << "column " << x;
        EXPECT_LT(std::fabs(bestSupport - img.ridgeRow[x]), 4.0) << "column " << x;
        // Far from the ridge only background values remain.
        const int far = img.ridgeRow[x] > p.height / 2.0 ? 0 : p.height - 1;
        EXPECT_LE(sample(img.primary, p.width, x, far, 0), p.background.hi);
        EXPECT_LE(sample(img.secondary, p.width, x, far, 0), p.supportLow.hi);
    }
}

// G/B carry the ridge tangent (1, dy/dx) scaled by 60 around 64: its direction must
// match the slope of the ground-truth curve, sign included (rows grow downwards).
TEST(RingImages, OrientationFollowsTheRidgeTangent) {
    const RingParams p = params(360, 200, 11);
    const RingImages img = generate(p);
    for (int x = 1; x + 1 < p.width; ++x) {
        const double slope = (img.ridgeRow[x + 1] - img.ridgeRow[x - 1]) / 2.0;
        for (int y : {0, static_cast<int>(img.ridgeRow[x]), p.height - 1}) {
            const double tx = sample(img.primary, p.width, x, y, 1) - 64.0;
            const double ty = sample(img.primary, p.width, x, y, 2) - 64.0;
            EXPECT_NEAR(std::hypot(tx, ty), 60.0, 1.0);
            EXPECT_NEAR(ty / tx, slope, 0.03) << "column " << x << " row " << y;
        }
    }
}

TEST(RingImages, SameSeedSameBytesAndZeroSupportKeepsThePrimary) {
    const RingParams p = params(97, 53, 42);
    const RingImages a = generate(p);
    const RingImages b = generate(p);
    EXPECT_EQ(a.primary, b.primary);
    EXPECT_EQ(a.secondary, b.secondary);

    RingParams other = p;
    other.seed = 43;
    EXPECT_NE(generate(other).primary, a.primary);

    RingParams zero = p;
    zero.zeroSupport = true;
    const RingImages z = generate(zero);
    EXPECT_EQ(z.primary, a.primary);
    EXPECT_EQ(z.ridgeRow, a.ridgeRow);
    for (std::uint8_t v : z.secondary) ASSERT_EQ(v, 0);
}

TEST(RingImages, RasterIsBottomRowFirstWithOpaqueAlpha) {
    // 2 x 2 image: rows (top) [1 2 3][4 5 6] and (bottom) [7 8 9][10 11 12].
    const std::vector<std::uint8_t> rgb{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const auto raster = ringgen::toRgbaRaster(rgb, 2, 2);
    ASSERT_EQ(raster.size(), 4u);
    EXPECT_EQ(raster[0], 0xFF090807u);
    EXPECT_EQ(raster[1], 0xFF0C0B0Au);
    EXPECT_EQ(raster[2], 0xFF030201u);
    EXPECT_EQ(raster[3], 0xFF060504u);
}

}  // namespace

TEST(RidgeShapes, DriftLeavesTheRingOpenByThatManyRowsInsideTheBand) {
    for (const auto& [w, h] : {std::pair{256, 256}, std::pair{720, 400}, std::pair{40, 64}}) {
        for (const double drift : {5.0, -5.0, 10.0, (h - 16) / 2.0}) {
            for (std::uint64_t seed = 0; seed < 10; ++seed) {
                RingParams p = params(w, h, seed);
                p.drift = drift;
                ASSERT_TRUE(ringgen::validateParams(p, nullptr));
                const auto rows = ringgen::ridgeCurve(p);
                EXPECT_NEAR(rows[w - 3] - rows[1], drift, 1e-9) << w << "x" << h << " seed " << seed;
                for (int x = 0; x < w; ++x) {
                    ASSERT_GE(rows[x], 6.0 - 1e-9) << "drift " << drift << " x " << x;
                    ASSERT_LE(rows[x], h - 7.0 + 1e-9) << "drift " << drift << " x " << x;
                    if (x > 0) {
                        ASSERT_LE(std::fabs(rows[x] - rows[x - 1]), 0.8 + 1e-9) << "too steep";
                    }
                }
            }
        }
    }
    RingParams p = params(100, 100, 1);
    p.drift = (100 - 16) / 2.0 + 1;  // would leave the band
    EXPECT_FALSE(ringgen::validateParams(p, nullptr));
    p.drift = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(ringgen::validateParams(p, nullptr));
    p = params(20, 100, 1);
    p.drift = 13.0;  // steeper than 0.8 rows per column
    EXPECT_FALSE(ringgen::validateParams(p, nullptr));
}
