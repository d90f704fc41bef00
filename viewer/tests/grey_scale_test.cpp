#include "grey_scale.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using ringview::GreyImage;
using ringview::SampleKind;
using Bytes = std::vector<std::uint8_t>;

GreyImage image(SampleKind kind, std::uint16_t bits, std::vector<double> values) {
    GreyImage g;
    g.width = static_cast<std::uint32_t>(values.size());
    g.height = 1;
    g.kind = kind;
    g.bits = bits;
    g.values = std::move(values);
    return g;
}

TEST(DisplayGrey, UnsignedBytesAreKeptAsTheyAre) {
    // Not stretched: a before/after pair of 8-bit pictures must stay comparable.
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Unsigned, 8, {3, 100, 200})),
              (Bytes{3, 100, 200}));
}

TEST(DisplayGrey, WiderIntegersAreStretchedOverTheirRange) {
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Unsigned, 16, {1000, 2000, 3000, 1500})),
              (Bytes{0, 128, 255, 64}));
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Signed, 16, {-32768, 0, 32767})),
              (Bytes{0, 128, 255}));
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Signed, 8, {-2, -1, 0})),
              (Bytes{0, 128, 255}));
}

TEST(DisplayGrey, NonFiniteFloatsAreClampedAndLeftOutOfTheRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Float, 32, {nan, -inf, 0.25, 0.5, inf})),
              (Bytes{0, 0, 0, 255, 255}));
}

TEST(DisplayGrey, RangesNearTheDoubleLimitsDoNotOverflow) {
    const double big = std::numeric_limits<double>::max();
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Float, 64, {-big, 0.0, big})),
              (Bytes{0, 128, 255}));
}

TEST(DisplayGrey, FlatImagesAreBlack) {
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Float, 32, {7.5, 7.5})), (Bytes{0, 0}));
    EXPECT_EQ(ringview::toDisplayGrey(image(SampleKind::Unsigned, 16, {9})), (Bytes{0}));
}

TEST(DisplayGrey, MinIsWhiteIsInverted) {
    GreyImage g = image(SampleKind::Unsigned, 8, {0, 55, 255});
    g.minIsWhite = true;
    EXPECT_EQ(ringview::toDisplayGrey(g), (Bytes{255, 200, 0}));
    g = image(SampleKind::Unsigned, 16, {0, 65535});
    g.minIsWhite = true;
    EXPECT_EQ(ringview::toDisplayGrey(g), (Bytes{255, 0}));
}

}  // namespace
