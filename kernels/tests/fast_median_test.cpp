// The fast kernels against the plain reference, bit for bit, for every
// method, instruction set this processor runs, element type and a spread of
// window shapes, anchors, steps and awkward values.

#include "fast_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <functional>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "reference_median.h"
#include "sorted_column_median.h"

namespace {

using mediankernels::Isa;
using mediankernels::Method;

// Values with many ties plus the extremes (and for floats NaNs of both signs
// and several payloads, both zeros, infinities and subnormals).
template <typename T>
T awkwardValue(std::mt19937& random) {
    std::uniform_int_distribution<int> pick(0, 9);
    const int kind = pick(random);
    if constexpr (std::is_floating_point_v<T>) {
        static const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                         -std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::signaling_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         0.0f,
                                         -0.0f,
                                         std::numeric_limits<float>::denorm_min(),
                                         -std::numeric_limits<float>::max()};
        if (kind == 0) return specials[random() % std::size(specials)];
        if (kind <= 3) return static_cast<float>(static_cast<int>(random() % 7) - 3);
        return std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
    } else {
        if (kind == 0) return std::numeric_limits<T>::min();
        if (kind == 1) return std::numeric_limits<T>::max();
        if (kind <= 5) return static_cast<T>(random() % 5);
        return static_cast<T>(random());
    }
}

struct Shape {
    int width, height, maskWidth, maskHeight;
};

template <typename T>
void expectSameAsReference(const Shape& s, Isa isa, Method method, std::mt19937& random) {
    const int srcPad = static_cast<int>(random() % 3), dstPad = static_cast<int>(random() % 3);
    const int srcLine = s.width + s.maskWidth - 1 + srcPad;
    const int srcLines = s.height + s.maskHeight - 1;
    const int dstLine = s.width + dstPad;
    std::vector<T> src(static_cast<size_t>(srcLine) * srcLines);
    for (T& v : src) v = awkwardValue<T>(random);
    const MedianKernelPoint anchor{static_cast<int>(random() % s.maskWidth),
                                   static_cast<int>(random() % s.maskHeight)};
    const T* at = src.data() + anchor.x + anchor.y * srcLine;
    const int e = sizeof(T);
    // Distinct fill patterns show both a wrong value and a write into the padding.
    std::vector<T> expected(static_cast<size_t>(dstLine) * s.height), actual(expected.size());
    std::memset(expected.data(), 0x5A, expected.size() * e);
    std::memset(actual.data(), 0x5A, actual.size() * e);
    ASSERT_EQ(
        mediankernels::referenceMedian(at, srcLine * e, expected.data(), dstLine * e,
                                       {s.width, s.height}, {s.maskWidth, s.maskHeight}, anchor),
        kMedianOk);
    ASSERT_EQ(
        mediankernels::fastMedian(at, srcLine * e, actual.data(), dstLine * e, {s.width, s.height},
                                  {s.maskWidth, s.maskHeight}, anchor, isa, method),
        kMedianOk);
    ASSERT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
        << mediankernels::isaName(isa) << " region " << s.width << "x" << s.height << " mask "
        << s.maskWidth << "x" << s.maskHeight << " anchor " << anchor.x << "," << anchor.y;
}

std::vector<Isa> usableIsas() {
    std::vector<Isa> isas;
    for (Isa isa : mediankernels::kAllIsas) {
        if (mediankernels::isaUsable(isa)) isas.push_back(isa);
    }
    return isas;
}

template <typename T>
class FastMedian : public ::testing::Test {};
using ElementTypes = ::testing::Types<uint8_t, uint16_t, int16_t, float>;
TYPED_TEST_SUITE(FastMedian, ElementTypes);

TYPED_TEST(FastMedian, NetworkMatchesReferenceForEveryCompiledWindowSize) {
    std::mt19937 random(21);
    for (Isa isa : usableIsas()) {
        for (int mh = 1; mh <= mediankernels::kMaxFixedNetwork; ++mh) {
            for (int mw = 1; mw * mh <= mediankernels::kMaxFixedNetwork; ++mw) {
                // Widths below, at and past one vector of each instruction set.
                const int width = 1 + static_cast<int>(random() % 140);
                expectSameAsReference<TypeParam>({width, 3, mw, mh}, isa, Method::kNetwork, random);
            }
        }
        for (int side : {7, 9}) {
            expectSameAsReference<TypeParam>({1 + static_cast<int>(random() % 140), 2, side, side},
                                             isa, Method::kNetwork, random);
        }
    }
}

TYPED_TEST(FastMedian, SortedColumnsMatchReferenceOnEveryInstructionSet) {
    std::mt19937 random(29);
    for (Isa isa : usableIsas()) {
        for (const mediankernels::MaskShape& mask : mediankernels::kSortedColumnShapes) {
            // Regions narrower than one vector of each set, ragged ends, one
            // line, and lines of several chunks with a short last one, also
            // one shorter than a vector (490, 970). Chunks step by 960 bytes
            // of columns.
            for (int width :
                 {1, 2, 7, 15, 16, 33, 63, 64, 65, 130, 250, 490, 600, 970, 1030, 2100}) {
                const int height = width > 100 ? 2 : 1 + static_cast<int>(random() % 4);
                expectSameAsReference<TypeParam>({width, height, mask.width, mask.height}, isa,
                                                 Method::kSortedColumns, random);
            }
        }
    }
}

TEST(FastMedianSortedColumns, FloatLinesSwitchBetweenBitsAndKeys) {
    // Non-negative floats are ranked by their bits, windows holding a negative
    // value, -0 or a NaN by keys: lines of both kinds in every order, with
    // +0, +inf and the largest floats among the plain ones.
    std::mt19937 random(30);
    const float plain[] = {0.0f, std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::denorm_min(), 1.0f, 2.5f};
    const float special[] = {-0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::infinity()};
    for (Isa isa : usableIsas()) {
        for (const mediankernels::MaskShape& mask : mediankernels::kSortedColumnShapes) {
            const int width = 37, height = 30;
            const int line = width + mask.width - 1, lines = height + mask.height - 1;
            std::vector<float> src(static_cast<size_t>(line) * lines);
            for (int y = 0; y < lines; ++y) {
                // Runs of plain lines, broken by lines with one special value.
                const bool hasSpecial = y % 13 == 4 || y % 17 == 16;
                for (int x = 0; x < line; ++x) {
                    src[y * line + x] = random() % 3 == 0
                                            ? plain[random() % std::size(plain)]
                                            : static_cast<float>(random() % 1000) * 0.25f;
                }
                if (hasSpecial) src[y * line + random() % line] = special[random() % std::size(special)];
            }
            std::vector<float> expected(width * height), actual(width * height);
            const int e = sizeof(float);
            const MedianKernelPoint anchor{mask.width / 2, mask.height / 2};
            const float* at = src.data() + anchor.x + anchor.y * line;
            mediankernels::referenceMedian(at, line * e, expected.data(), width * e,
                                           {width, height}, {mask.width, mask.height}, anchor);
            mediankernels::fastMedian(at, line * e, actual.data(), width * e, {width, height},
                                      {mask.width, mask.height}, anchor, isa,
                                      Method::kSortedColumns);
            EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
                << mediankernels::isaName(isa) << " mask " << mask.width << "x" << mask.height;
        }
    }
}

TYPED_TEST(FastMedian, ThreeByThreeMatchesReferenceAtEveryWidthAndLineCount) {
    // The 3 x 3 kernel takes lines in pairs and source columns a vector at a
    // time while the next vector lies within the lines, the rest by shifted
    // loads: every width up to past two of the widest vectors, odd and even
    // line counts.
    std::mt19937 random(31);
    for (Isa isa : usableIsas()) {
        for (int width = 1; width <= 140; ++width) {
            const int height = 1 + static_cast<int>(random() % 6);
            expectSameAsReference<TypeParam>({width, height, 3, 3}, isa, Method::kSortedColumns,
                                             random);
        }
    }
}

TYPED_TEST(FastMedian, NarrowTallRegionsAreFilteredBandByBand) {
    // Regions narrower than a vector are copied into padded lines a band of
    // lines at a time: heights below, at and past a band, odd remainders,
    // and masks taller than the last band.
    std::mt19937 random(37);
    for (Isa isa : usableIsas()) {
        for (int height : {255, 256, 257, 513, 700}) {
            const int width = 1 + static_cast<int>(random() % 20);
            for (const auto& [mw, mh] : {std::pair{3, 3}, std::pair{5, 5}, std::pair{1, 9}, std::pair{7, 7}}) {
                expectSameAsReference<TypeParam>({width, height, mw, mh}, isa, Method::kAuto,
                                                 random);
            }
        }
    }
}

TEST(FastMedianSortedColumns, ThreeByThreeFloatPairsRedoneOnKeysOnlyWhereNeeded) {
    // Mostly plain floats; one value that needs keys (negative, -0, NaN) in
    // one line at a time, so that either line of a pair, or the one line of
    // an odd last pass, sends it back to keys, and the next pair must not.
    const float special[] = {-0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::infinity()};
    std::mt19937 random(32);
    for (Isa isa : usableIsas()) {
        for (int width : {20, 45, 100}) {
            for (int height : {5, 6}) {
                const int line = width + 2, lines = height + 2;
                for (int at = 0; at < lines; ++at) {
                    std::vector<float> src(static_cast<size_t>(line) * lines);
                    for (float& v : src) v = static_cast<float>(random() % 50) * 0.5f;
                    src[at * line + random() % line] = special[random() % std::size(special)];
                    std::vector<float> expected(width * height), actual(width * height);
                    const int e = sizeof(float);
                    const float* origin = src.data() + 1 + line;
                    mediankernels::referenceMedian(origin, line * e, expected.data(), width * e,
                                                   {width, height}, {3, 3}, {1, 1});
                    mediankernels::fastMedian(origin, line * e, actual.data(), width * e,
                                              {width, height}, {3, 3}, {1, 1}, isa,
                                              Method::kSortedColumns);
                    EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
                        << mediankernels::isaName(isa) << " width " << width << " height "
                        << height << " special in line " << at;
                }
            }
        }
    }
}

// The 49- and 81-element networks (7 x 7, 9 x 9 and the other shapes of those
// sizes) over regions narrower than a few vectors, a few, and a ragged rest.
TYPED_TEST(FastMedian, LargeNetworksMatchReferenceAcrossVectorWidths) {
    std::mt19937 random(23);
    for (Isa isa : usableIsas()) {
        for (const auto& [mw, mh] : {std::pair{7, 7}, std::pair{9, 9}, std::pair{1, 49},
                                     std::pair{27, 3}}) {
            for (int width : {100, 256, 300, 701}) {
                expectSameAsReference<TypeParam>({width, 2, mw, mh}, isa, Method::kNetwork, random);
            }
        }
    }
}

TYPED_TEST(FastMedian, RuntimeNetworkMatchesReference) {
    std::mt19937 random(22);
    // The last is wide enough for several of the widest vectors, with a ragged end.
    const Shape shapes[] = {
        {70, 4, 13, 2}, {5, 3, 1, 26}, {33, 2, 5, 8}, {129, 2, 10, 10}, {301, 2, 6, 6}};
    for (Isa isa : usableIsas()) {
        for (const Shape& s : shapes)
            expectSameAsReference<TypeParam>(s, isa, Method::kNetwork, random);
    }
}

TEST(FastMedianWords, UnsignedWordsAroundTheTopBitOverManyStrips) {
    // Where unsigned words are filtered as signed ones with the top bit
    // flipped, a strip of lines at a time: values on both sides of the top
    // bit, regions taller than several strips (for tall masks too), steps
    // longer than a line, and every kernel that reads words (tall masks
    // take strips taller than their usual height).
    std::mt19937 random(41);
    const uint16_t near[] = {0x7FFE, 0x7FFF, 0x8000, 0x8001, 0, 0xFFFF};
    const Shape shapes[] = {{300, 700, 3, 3},  {257, 600, 5, 5},    {130, 900, 1, 25},
                            {200, 400, 13, 2}, {64, 1100, 7, 9},    {1100, 90, 11, 11},
                            {700, 300, 1, 49}, {600, 200, 27, 3}};
    for (Isa isa : usableIsas()) {
        for (const Shape& s : shapes) {
            const Method method = mediankernels::hasSortedColumnNetwork(s.maskWidth, s.maskHeight)
                                      ? Method::kSortedColumns
                                      : Method::kNetwork;
            const int srcLine = s.width + s.maskWidth + 2, srcLines = s.height + s.maskHeight - 1;
            std::vector<uint16_t> src(static_cast<size_t>(srcLine) * srcLines);
            for (uint16_t& v : src) {
                v = random() % 2 ? near[random() % std::size(near)]
                                 : static_cast<uint16_t>(random());
            }
            const int e = sizeof(uint16_t);
            std::vector<uint16_t> expected(static_cast<size_t>(s.width) * s.height),
                actual(expected.size());
            const MedianKernelPoint anchor{s.maskWidth / 2, s.maskHeight / 2};
            const uint16_t* at = src.data() + anchor.x + anchor.y * srcLine;
            mediankernels::referenceMedian(at, srcLine * e, expected.data(), s.width * e,
                                           {s.width, s.height}, {s.maskWidth, s.maskHeight},
                                           anchor);
            ASSERT_EQ(mediankernels::fastMedian(at, srcLine * e, actual.data(), s.width * e,
                                                {s.width, s.height}, {s.maskWidth, s.maskHeight},
                                                anchor, isa, method),
                      kMedianOk);
            EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
                << mediankernels::isaName(isa) << " region " << s.width << "x" << s.height
                << " mask " << s.maskWidth << "x" << s.maskHeight;
        }
    }
}

TYPED_TEST(FastMedian, HistogramMatchesReferenceSlidingEitherWay) {
    std::mt19937 random(23);
    // Wide masks slide along lines, tall ones across them; odd and even counts.
    const Shape shapes[] = {{40, 7, 9, 3},   {9, 30, 2, 11}, {1, 1, 6, 5},  {17, 19, 1, 1},
                            {23, 5, 12, 12}, {3, 40, 1, 7},  {64, 2, 31, 4}};
    for (const Shape& s : shapes) {
        expectSameAsReference<TypeParam>(s, Isa::kScalar, Method::kHistogram, random);
    }
}

TYPED_TEST(FastMedian, SortedBlocksMatchReferenceOnEveryInstructionSet) {
    std::mt19937 random(27);
    // Wide and tall masks (either slide), odd and even counts, regions of many
    // blocks with partial ones at both edges, one-wide regions and lines,
    // masks large enough to need bigger blocks (and wider rank bins).
    const Shape shapes[] = {{40, 7, 9, 3},    {9, 30, 3, 11},  {1, 9, 6, 5},    {17, 19, 3, 3},
                            {23, 5, 12, 12},  {3, 40, 3, 7},   {64, 2, 31, 4},  {5, 3, 26, 3},
                            {300, 70, 3, 3},  {70, 300, 4, 3}, {257, 9, 15, 15}, {1, 1, 70, 70},
                            {130, 140, 25, 25}, {3, 150, 90, 90}, {200, 1, 3, 200},
                            {5, 70, 1, 100},  {70, 5, 100, 1}, {9, 40, 2, 60},  {40, 9, 60, 2}};
    for (Isa isa : usableIsas()) {
        for (const Shape& s : shapes) {
            expectSameAsReference<TypeParam>(s, isa, Method::kSortedBlock, random);
        }
    }
}

TYPED_TEST(FastMedian, SortedBlocksFollowTheMedianThroughTheRankBins) {
    // Pictures whose windows' medians sweep steadily through the rank bins,
    // so that the median falls on every fine position of the two bins the
    // window follows (the first included) and moves from one to the other
    // and on: all-equal pictures at either extreme of the type (ranks by
    // position alone), ramps along and across the slide, both extremes in
    // halves and in a checkerboard.
    using T = TypeParam;
    const T low = std::numeric_limits<T>::lowest(), high = std::numeric_limits<T>::max();
    const auto ramp = [](int i) { return static_cast<T>(i % 200); };
    const std::function<T(int, int)> pictures[] = {
        [&](int, int) { return low; },
        [&](int, int) { return high; },
        [&](int x, int) { return ramp(x); },
        [&](int, int y) { return ramp(y); },
        [&](int x, int y) { return ramp(3 * x + 2 * y); },
        [&](int x, int) { return x < 70 ? low : high; },
        [&](int x, int y) { return (x + y) % 2 ? low : high; }};
    const int masks[][2] = {{15, 15}, {31, 9}, {9, 31}};
    const int width = 150, height = 120, e = sizeof(T);
    for (Isa isa : usableIsas()) {
        for (std::size_t pic = 0; pic < std::size(pictures); ++pic) {
            for (const auto& m : masks) {
                const int line = width + m[0] - 1, lines = height + m[1] - 1;
                std::vector<T> src(static_cast<std::size_t>(line) * lines);
                for (int y = 0; y < lines; ++y) {
                    for (int x = 0; x < line; ++x) src[y * line + x] = pictures[pic](x, y);
                }
                std::vector<T> expected(static_cast<std::size_t>(width) * height),
                    actual(expected.size());
                mediankernels::referenceMedian(src.data(), line * e, expected.data(), width * e,
                                               {width, height}, {m[0], m[1]}, {0, 0});
                ASSERT_EQ(mediankernels::fastMedian(src.data(), line * e, actual.data(), width * e,
                                                    {width, height}, {m[0], m[1]}, {0, 0}, isa,
                                                    Method::kSortedBlock),
                          kMedianOk);
                EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
                    << mediankernels::isaName(isa) << " picture " << pic << " mask " << m[0] << "x"
                    << m[1];
            }
        }
    }
}

TEST(FastMedianSortedBlock, LargestWindowFillsAWholeBlock) {
    // 255 x 257 = 65535 elements: a region of 2 x 2 outputs holds 257 x 259
    // elements, more than one block's 65536, so the outputs take several blocks.
    const int mw = 255, mh = 257, width = 2, height = 2;
    const int line = width + mw - 1, lines = height + mh - 1;
    std::mt19937 random(28);
    std::vector<uint16_t> src(static_cast<size_t>(line) * lines);
    for (uint16_t& v : src) v = static_cast<uint16_t>(random());
    std::vector<uint16_t> expected(width * height), actual(width * height);
    mediankernels::referenceMedian(src.data(), line * 2, expected.data(), width * 2,
                                   {width, height}, {mw, mh}, {0, 0});
    for (Isa isa : usableIsas()) {
        ASSERT_EQ(mediankernels::fastMedian(src.data(), line * 2, actual.data(), width * 2,
                                            {width, height}, {mw, mh}, {0, 0}, isa,
                                            Method::kSortedBlock),
                  kMedianOk);
        EXPECT_EQ(actual, expected) << mediankernels::isaName(isa);
    }
}

// The sorted blocks against the reference, bit for bit, on `src` (lines of
// s[0] + s[2] - 1 elements) for an s[0] x s[1] region and an s[2] x s[3] mask.
template <typename T>
void expectSortedBlocksMatch(const std::vector<T>& src, const int (&s)[4], Isa isa,
                             const std::string& what) {
    const int line = s[0] + s[2] - 1, e = sizeof(T);
    std::vector<T> expected(static_cast<size_t>(s[0]) * s[1]), actual(expected.size());
    mediankernels::referenceMedian(src.data(), line * e, expected.data(), s[0] * e, {s[0], s[1]},
                                   {s[2], s[3]}, {0, 0});
    ASSERT_EQ(mediankernels::fastMedian(src.data(), line * e, actual.data(), s[0] * e, {s[0], s[1]},
                                        {s[2], s[3]}, {0, 0}, isa, Method::kSortedBlock),
              kMedianOk);
    EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0)
        << mediankernels::isaName(isa) << " " << what << " mask " << s[2] << "x" << s[3];
}

// 16-bit values keeping only the bits in `kept`, over regions of several
// blocks along both extents, against the reference with every instruction set.
template <typename T>
void expectSortedBlocksWithBits(uint16_t kept, std::mt19937& random) {
    const int shapes[][4] = {{300, 40, 15, 15}, {41, 260, 9, 25}, {260, 70, 31, 9}};
    for (Isa isa : usableIsas()) {
        for (const auto& s : shapes) {
            std::vector<T> src(static_cast<size_t>(s[0] + s[2] - 1) * (s[1] + s[3] - 1));
            for (T& v : src) v = static_cast<T>(random() & kept);
            expectSortedBlocksMatch(src, s, isa, "bits " + std::to_string(kept));
        }
    }
}

TEST(FastMedianSortedBlock, SixteenBitKeysSharingEitherByte) {
    // A shared low byte skips the sort's first pass, so that the ranks are
    // written from the items as they were read; a shared high byte leaves
    // the last pass, which writes the ranks, with one digit.
    std::mt19937 random(30);
    for (uint16_t kept : {uint16_t{0xFF00}, uint16_t{0x00FF}, uint16_t{0x0300}}) {
        expectSortedBlocksWithBits<uint16_t>(kept, random);
        expectSortedBlocksWithBits<int16_t>(kept, random);
    }
}

TEST(FastMedianSortedBlock, FloatKeysSharingUpperDigitsAndEvenBlocks) {
    // Keys that agree on their upper bits leave some of the sort's digits
    // alone; regions of several blocks along both extents (even sizes, no
    // narrow last one) with every instruction set.
    std::mt19937 random(29);
    const float bases[] = {1.0f, -3.0f, 1e-30f};
    const int shapes[][4] = {{300, 40, 15, 15}, {41, 260, 25, 9}, {230, 31, 31, 31}};
    for (Isa isa : usableIsas()) {
        for (float base : bases) {
            for (const auto& s : shapes) {
                std::vector<float> src(static_cast<size_t>(s[0] + s[2] - 1) * (s[1] + s[3] - 1));
                for (float& v : src) v = base * (1.0f + static_cast<float>(random() % 4096) * 1e-7f);
                expectSortedBlocksMatch(src, s, isa, "base " + std::to_string(base));
            }
        }
    }
}

TEST(FastMedianColumnHistogram, BytesMatchReferenceOnEveryInstructionSet) {
    std::mt19937 random(26);
    // Single-line and single-column windows, regions one wide, tall and wide masks.
    const Shape shapes[] = {{40, 7, 9, 3},   {9, 30, 2, 11}, {1, 9, 6, 5},   {17, 19, 1, 1},
                            {23, 5, 12, 12}, {3, 40, 1, 7},  {64, 2, 31, 4}, {5, 3, 26, 1}};
    for (Isa isa : usableIsas()) {
        for (const Shape& s : shapes) {
            expectSameAsReference<uint8_t>(s, isa, Method::kColumnHistogram, random);
        }
    }
}

TEST(FastMedianColumnHistogram, MedianWalksAndJumpsAcrossCoarseBins) {
    // The window keeps the fine counts of two coarse bins around the median
    // and moves them when the median leaves: a ramp walks the median through
    // every coarse bin up and down, bands of 0 and 255 make it jump between
    // the first and the last, and values at 15 / 16 and 239 / 240 sit on the
    // edges of the outer bins.
    const int width = 300, height = 12, mw = 15, mh = 9;
    const int line = width + mw - 1, lines = height + mh - 1;
    std::vector<uint8_t> src(static_cast<size_t>(line) * lines);
    std::mt19937 random(32);
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < line; ++x) {
            uint8_t v;
            if (y < 4) {
                const int ramp = x % 200;
                v = static_cast<uint8_t>(ramp < 100 ? ramp * 255 / 99 : (199 - ramp) * 255 / 99);
            } else if (y < 12) {
                v = (x / 20) % 2 ? 255 : 0;
            } else {
                const uint8_t edges[] = {15, 16, 239, 240, 0, 255};
                v = edges[random() % 6];
            }
            src[static_cast<size_t>(y) * line + x] = v;
        }
    }
    std::vector<uint8_t> expected(width * height), actual(width * height);
    mediankernels::referenceMedian(src.data(), line, expected.data(), width, {width, height},
                                   {mw, mh}, {0, 0});
    for (Isa isa : usableIsas()) {
        ASSERT_EQ(mediankernels::fastMedian(src.data(), line, actual.data(), width,
                                            {width, height}, {mw, mh}, {0, 0}, isa,
                                            Method::kColumnHistogram),
                  kMedianOk);
        EXPECT_EQ(actual, expected) << mediankernels::isaName(isa);
    }
}

TEST(FastMedianColumnHistogram, FullColumnsAndStripsOnEveryInstructionSet) {
    // Columns count up to 255 lines in bytes: masks of 255 lines fill them
    // (one value throughout but for a few, so single counts reach 255), and
    // of 256 or more lines the window slides across the picture's lines.
    // Regions of several strips (512 outputs) with a short last one.
    std::mt19937 random(33);
    const Shape shapes[] = {{30, 3, 3, 255}, {4, 40, 2, 256}, {3, 5, 200, 300},
                            {1100, 3, 15, 15}, {1030, 2, 31, 31}, {1, 600, 255, 1}};
    for (const Shape& s : shapes) {
        const int line = s.width + s.maskWidth - 1, lines = s.height + s.maskHeight - 1;
        for (bool crowded : {true, false}) {
            std::vector<uint8_t> src(static_cast<size_t>(line) * lines);
            for (uint8_t& v : src) {
                v = crowded ? (random() % 64 == 0 ? static_cast<uint8_t>(random()) : 200)
                            : static_cast<uint8_t>(random());
            }
            std::vector<uint8_t> expected(static_cast<size_t>(s.width) * s.height),
                actual(expected.size());
            mediankernels::referenceMedian(src.data(), line, expected.data(), s.width,
                                           {s.width, s.height}, {s.maskWidth, s.maskHeight},
                                           {0, 0});
            for (Isa isa : usableIsas()) {
                std::fill(actual.begin(), actual.end(), 0);
                ASSERT_EQ(mediankernels::fastMedian(src.data(), line, actual.data(), s.width,
                                                    {s.width, s.height},
                                                    {s.maskWidth, s.maskHeight}, {0, 0}, isa,
                                                    Method::kColumnHistogram),
                          kMedianOk);
                EXPECT_EQ(actual, expected)
                    << mediankernels::isaName(isa) << " mask " << s.maskWidth << "x"
                    << s.maskHeight << (crowded ? " crowded" : " random");
            }
        }
    }
}

TEST(FastMedianColumnHistogram, LargestSixteenBitCountsDoNotWrap) {
    // 255 x 257 = 65535 elements, the most the 16-bit counts hold, all of one value
    // except a corner: every coarse and fine total reaches its limit.
    const int mw = 255, mh = 257, width = 3, height = 2;
    const int line = width + mw - 1;
    std::vector<uint8_t> src(static_cast<size_t>(line) * (height + mh - 1), 200);
    src[0] = 3;
    src[1] = 255;
    for (Isa isa : usableIsas()) {
        std::vector<uint8_t> out(width * height, 0);
        ASSERT_EQ(mediankernels::fastMedian(src.data(), line, out.data(), width, {width, height},
                                            {mw, mh}, {0, 0}, isa, Method::kColumnHistogram),
                  kMedianOk);
        EXPECT_EQ(out, std::vector<uint8_t>(width * height, 200)) << mediankernels::isaName(isa);
    }
}

TYPED_TEST(FastMedian, AutomaticChoiceMatchesReferenceAcrossTheCrossover) {
    std::mt19937 random(24);
    for (int size : {3, 5, 9, 11, 15, 21}) {
        expectSameAsReference<TypeParam>({50, 6, size, size}, mediankernels::preferredIsa(),
                                         Method::kAuto, random);
    }
    // Shapes of the largest compiled-in networks, which some sets hand to
    // other methods, on every set.
    for (Isa isa : usableIsas()) {
        for (const auto& [mw, mh] :
             {std::pair{9, 9}, std::pair{1, 49}, std::pair{27, 3}, std::pair{3, 27}}) {
            expectSameAsReference<TypeParam>({70, 5, mw, mh}, isa, Method::kAuto, random);
        }
    }
}

TEST(FastMedianHistogram, FloatsCrowdedIntoOneBucketStillGiveTheExactMedian) {
    // Values this close share their upper 16 key bits, so the bucket alone cannot decide.
    std::mt19937 random(25);
    const int width = 30, height = 12, mw = 9, mh = 8;
    std::vector<float> src((width + mw - 1) * (height + mh - 1));
    for (float& v : src) v = 1.0f + static_cast<float>(random() % 100000) * 1e-7f;
    std::vector<float> expected(width * height), actual(width * height);
    const int e = sizeof(float);
    mediankernels::referenceMedian(src.data(), (width + mw - 1) * e, expected.data(), width * e,
                                   {width, height}, {mw, mh}, {0, 0});
    mediankernels::fastMedian(src.data(), (width + mw - 1) * e, actual.data(), width * e,
                              {width, height}, {mw, mh}, {0, 0}, Isa::kScalar, Method::kHistogram);
    EXPECT_EQ(std::memcmp(expected.data(), actual.data(), expected.size() * e), 0);
}

TEST(FastMedianArguments, RejectsBadArgumentsBeforeAnyMethodRuns) {
    std::vector<uint8_t> in(64, 1), out(64, 9);
    for (Method method : {Method::kNetwork, Method::kHistogram}) {
        EXPECT_EQ(mediankernels::fastMedian(in.data(), 4, out.data(), 8, {4, 2}, {3, 3}, {1, 1},
                                            Isa::kScalar, method),
                  kMedianBadStep);
        EXPECT_EQ(mediankernels::fastMedian(in.data(), 8, out.data(), 8, {4, 2}, {3, 3}, {3, 1},
                                            Isa::kScalar, method),
                  kMedianBadAnchor);
    }
    EXPECT_EQ(out, std::vector<uint8_t>(64, 9));
}

}  // namespace
