#include "mediankernels/median_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "brute_force_median.h"

namespace {

template <typename T>
struct Kernel;
template <>
struct Kernel<uint8_t> {
    static constexpr auto run = ippiFilterMedian_8u_C1R;
};
template <>
struct Kernel<uint16_t> {
    static constexpr auto run = ippiFilterMedian_16u_C1R;
};
template <>
struct Kernel<int16_t> {
    static constexpr auto run = ippiFilterMedian_16s_C1R;
};
template <>
struct Kernel<float> {
    static constexpr auto run = ippiFilterMedian_32f_C1R;
};

// Lines of `width` elements, `height` lines; valid-region filtering with the
// given anchor, the way the plug-in calls the kernels.
template <typename T>
std::vector<T> filterValid(const std::vector<T>& in, int width, int height, int mw, int mh, int ax,
                           int ay, MedianKernelStatus* status = nullptr) {
    const int ow = width - mw + 1, oh = height - mh + 1;
    std::vector<T> out(static_cast<size_t>(ow) * oh);
    const MedianKernelStatus s =
        Kernel<T>::run(in.data() + ax + ay * width, width * static_cast<int>(sizeof(T)), out.data(),
                       ow * static_cast<int>(sizeof(T)), {ow, oh}, {mw, mh}, {ax, ay});
    if (status) *status = s;
    return out;
}

template <typename T>
std::vector<T> randomValues(size_t count, std::mt19937& random) {
    std::vector<T> values(count);
    if constexpr (std::is_floating_point_v<T>) {
        std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
        for (T& v : values) v = d(random);
    } else {
        // A narrow range makes ties frequent.
        std::uniform_int_distribution<int> d(std::numeric_limits<T>::min(),
                                             std::numeric_limits<T>::min() + 40);
        for (T& v : values) v = static_cast<T>(d(random));
    }
    return values;
}

template <typename T>
class MedianKernelTyped : public ::testing::Test {};
using ElementTypes = ::testing::Types<uint8_t, uint16_t, int16_t, float>;
TYPED_TEST_SUITE(MedianKernelTyped, ElementTypes);

TYPED_TEST(MedianKernelTyped, MatchesSortedBlockForOddEvenAndRectangularMasks) {
    std::mt19937 random(7);
    const int masks[][2] = {{3, 3}, {5, 1}, {1, 4}, {2, 2}, {4, 3}, {6, 6}};
    for (const auto& mask : masks) {
        const int width = 13, height = 9;
        const auto in = randomValues<TypeParam>(width * height, random);
        const auto out =
            filterValid(in, width, height, mask[0], mask[1], (mask[0] - 1) / 2, (mask[1] - 1) / 2);
        EXPECT_EQ(out, testing_median::bruteForceMedian(in, width, height, mask[0], mask[1]))
            << "mask " << mask[0] << "x" << mask[1];
    }
}

TYPED_TEST(MedianKernelTyped, ResultDoesNotDependOnTheAnchor) {
    // The anchor only says where the source pointer points inside the block.
    std::mt19937 random(11);
    const int width = 10, height = 8;
    const auto in = randomValues<TypeParam>(width * height, random);
    const auto expected = testing_median::bruteForceMedian(in, width, height, 4, 3);
    for (int ax = 0; ax < 4; ++ax) {
        for (int ay = 0; ay < 3; ++ay)
            EXPECT_EQ(filterValid(in, width, height, 4, 3, ax, ay), expected);
    }
}

TYPED_TEST(MedianKernelTyped, OneByOneMaskCopiesAndFullMaskGivesOneMedian) {
    std::mt19937 random(3);
    const auto in = randomValues<TypeParam>(7 * 5, random);
    EXPECT_EQ(filterValid(in, 7, 5, 1, 1, 0, 0), in);
    const auto whole = filterValid(in, 7, 5, 7, 5, 3, 2);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole, testing_median::bruteForceMedian(in, 7, 5, 7, 5));
}

TYPED_TEST(MedianKernelTyped, HonoursStepsLongerThanALine) {
    // Padding between lines must be neither read into blocks nor written.
    const int width = 4, height = 3, pad = 3, outPad = 2;
    std::vector<TypeParam> in((width + pad) * height, TypeParam(100));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) in[y * (width + pad) + x] = TypeParam(x + y);
    }
    std::vector<TypeParam> out((2 + outPad) * 2, TypeParam(77));
    const int e = sizeof(TypeParam);
    ASSERT_EQ(Kernel<TypeParam>::run(in.data(), (width + pad) * e, out.data(), (2 + outPad) * e,
                                     {3, 2}, {2, 2}, {0, 0}),
              kMedianOk);
    // Each block holds s, s+1, s+1, s+2 with s = x + y: the median is s + 1.
    EXPECT_EQ(out, (std::vector<TypeParam>{1, 2, 3, 77, 2, 3, 4, 77}));
}

TEST(MedianKernelRules, EvenMaskTakesTheUpperMiddleValue) {
    const std::vector<uint8_t> in{10, 40, 20, 30};
    EXPECT_EQ(filterValid(in, 4, 1, 4, 1, 1, 0), std::vector<uint8_t>{30});
    EXPECT_EQ(filterValid(in, 4, 1, 2, 1, 0, 0), (std::vector<uint8_t>{40, 40, 30}));
    const std::vector<int16_t> negative{-5, -7};
    EXPECT_EQ(filterValid(negative, 1, 2, 1, 2, 0, 0), std::vector<int16_t>{-5});
}

TEST(MedianKernelRules, NaNRanksAboveInfinity) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Sorted: 1, inf, NaN -> median inf.
    EXPECT_EQ(filterValid(std::vector<float>{nan, 1.0f, inf}, 3, 1, 3, 1, 1, 0)[0], inf);
    // Sorted: -inf, 2, NaN, NaN, NaN -> median NaN.
    const float negativeNaN = -std::numeric_limits<float>::signaling_NaN();
    const auto out =
        filterValid(std::vector<float>{nan, negativeNaN, 2.0f, -inf, nan}, 5, 1, 5, 1, 2, 0);
    ASSERT_TRUE(std::isnan(out[0]));
    // Written as the canonical quiet NaN, whichever NaN was selected.
    const float canonical = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(std::memcmp(&out[0], &canonical, sizeof(float)), 0);
}

TEST(MedianKernelRules, NegativeZeroRanksBelowPositiveZero) {
    const auto out = filterValid(std::vector<float>{0.0f, -0.0f, 0.0f, -0.0f}, 4, 1, 4, 1, 0, 0);
    EXPECT_FALSE(std::signbit(out[0]));
    const auto low = filterValid(std::vector<float>{-0.0f, 0.0f, -0.0f}, 3, 1, 3, 1, 0, 0);
    EXPECT_TRUE(std::signbit(low[0]));
}

TEST(MedianKernelArguments, InvalidArgumentsReturnAnErrorAndWriteNothing) {
    std::vector<uint16_t> in(6 * 4, 5);
    struct Case {
        const char* what;
        const uint16_t* src;
        int srcStep;
        bool nullDst;
        int dstStep;
        MedianKernelSize roi, mask;
        MedianKernelPoint anchor;
        MedianKernelStatus expected;
    };
    const uint16_t* s = in.data() + 1 + 6;
    const Case cases[] = {
        {"null source", nullptr, 12, false, 8, {4, 2}, {3, 3}, {1, 1}, kMedianNullPointer},
        {"null destination", s, 12, true, 8, {4, 2}, {3, 3}, {1, 1}, kMedianNullPointer},
        {"misaligned source",
         reinterpret_cast<const uint16_t*>(reinterpret_cast<const char*>(s) + 1),
         12,
         false,
         8,
         {4, 2},
         {3, 3},
         {1, 1},
         kMedianMisaligned},
        {"zero width", s, 12, false, 8, {0, 2}, {3, 3}, {1, 1}, kMedianBadRegion},
        {"negative height", s, 12, false, 8, {4, -1}, {3, 3}, {1, 1}, kMedianBadRegion},
        {"zero mask", s, 12, false, 8, {4, 2}, {0, 3}, {0, 1}, kMedianBadMask},
        {"huge mask", s, 12, false, 8, {4, 2}, {65536, 65536}, {1, 1}, kMedianBadMask},
        {"anchor right of mask", s, 12, false, 8, {4, 2}, {3, 3}, {3, 1}, kMedianBadAnchor},
        {"negative anchor", s, 12, false, 8, {4, 2}, {3, 3}, {1, -1}, kMedianBadAnchor},
        {"source step shorter than a line",
         s,
         10,
         false,
         8,
         {4, 2},
         {3, 3},
         {1, 1},
         kMedianBadStep},
        {"destination step shorter than a line",
         s,
         12,
         false,
         6,
         {4, 2},
         {3, 3},
         {1, 1},
         kMedianBadStep},
        {"odd step", s, 13, false, 8, {4, 2}, {3, 3}, {1, 1}, kMedianBadStep},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> out(16, 0xABCD);
        EXPECT_EQ(ippiFilterMedian_16u_C1R(c.src, c.srcStep, c.nullDst ? nullptr : out.data(),
                                           c.dstStep, c.roi, c.mask, c.anchor),
                  c.expected)
            << c.what;
        EXPECT_EQ(out, std::vector<uint16_t>(16, 0xABCD)) << c.what;
    }
}

}  // namespace
