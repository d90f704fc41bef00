// Cutting the destination region into bands, and running the bands on threads.

#include "bands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using rankwin::Band;
using rankwin::KernelSize;

// Every element of the region lies in exactly one band, and band sizes differ
// by at most one line or column.
void expectTiling(KernelSize region, KernelSize mask, int threads) {
    SCOPED_TRACE(::testing::Message()
                 << region.width << "x" << region.height << " mask " << mask.width << "x"
                 << mask.height << ", " << threads << " threads");
    const std::vector<Band> bands = rankwin::splitRegion(region, mask, threads);
    ASSERT_GE(bands.size(), 1u);
    ASSERT_LE(bands.size(), static_cast<std::size_t>(std::max(threads, 1)));
    std::vector<int> covered(static_cast<std::size_t>(region.width) * region.height, 0);
    std::int32_t smallest = INT32_MAX, largest = 0;
    for (const Band& b : bands) {
        ASSERT_GT(b.width, 0);
        ASSERT_GT(b.height, 0);
        ASSERT_LE(b.x + b.width, region.width);
        ASSERT_LE(b.y + b.height, region.height);
        for (std::int32_t y = b.y; y < b.y + b.height; ++y) {
            for (std::int32_t x = b.x; x < b.x + b.width; ++x) {
                ++covered[static_cast<std::size_t>(y) * region.width + x];
            }
        }
        const std::int32_t size = b.width == region.width ? b.height : b.width;
        smallest = std::min(smallest, size);
        largest = std::max(largest, size);
    }
    EXPECT_TRUE(std::all_of(covered.begin(), covered.end(), [](int c) { return c == 1; }));
    EXPECT_LE(largest - smallest, 1);
}

TEST(SplitRegion, BandsCoverTheRegionOnce) {
    for (const int threads : {1, 2, 3, 7, 64}) {
        expectTiling({40, 30}, {5, 5}, threads);
        expectTiling({1, 50}, {3, 1}, threads);
        expectTiling({50, 1}, {1, 3}, threads);
        expectTiling({2, 3}, {9, 9}, threads);
        expectTiling({1, 1}, {1, 1}, threads);
        expectTiling({33, 5}, {1, 15}, threads);
    }
}

TEST(SplitRegion, CutsWhereTheBandsReReadLeast) {
    // Square region, square mask: whole lines.
    auto bands = rankwin::splitRegion({2046, 2046}, {3, 3}, 2);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0].width, 2046);
    EXPECT_EQ(bands[1].y, 1023);
    // A mask one line high re-reads nothing across lines, one column wide
    // nothing along them.
    bands = rankwin::splitRegion({1000, 1000}, {31, 1}, 4);
    EXPECT_EQ(bands[1].width, 1000);
    bands = rankwin::splitRegion({1000, 1000}, {1, 31}, 4);
    EXPECT_EQ(bands[1].height, 1000);
    EXPECT_EQ(bands[1].x, 250);
    // Fewer lines than threads: columns.
    bands = rankwin::splitRegion({999998, 1}, {3, 2}, 2);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[1].x, 499999);
    // Too small to give every thread a line or column: fewer bands.
    EXPECT_EQ(rankwin::splitRegion({3, 2}, {3, 3}, 8).size(), 3u);
}

TEST(ThreadCount, FromTheEnvironmentOrTheProcessors) {
    const int processors = rankwin::availableProcessors();
    ASSERT_GE(processors, 1);
    setenv("RANKWIN_THREADS", "3", 1);
    EXPECT_EQ(rankwin::threadCount(), 3);
    setenv("RANKWIN_THREADS", "1", 1);
    EXPECT_EQ(rankwin::threadCount(), 1);
    setenv("RANKWIN_THREADS", "256", 1);
    EXPECT_EQ(rankwin::threadCount(), 256);
    // Anything else is ignored.
    for (const char* junk : {"0", "-2", "", "two", "4x", " ", "257", "99999999999999999999"}) {
        setenv("RANKWIN_THREADS", junk, 1);
        EXPECT_EQ(rankwin::threadCount(), std::min(processors, rankwin::kMaxThreads)) << junk;
    }
    unsetenv("RANKWIN_THREADS");
    EXPECT_EQ(rankwin::threadCount(), std::min(processors, rankwin::kMaxThreads));
}

TEST(RunBands, EveryBandOnceTheFirstOnTheCallingThread) {
    std::vector<std::atomic<int>> runs(6);
    std::vector<std::thread::id> threads(6);
    rankwin::runBands(6, [&](int i) {
        ++runs[static_cast<std::size_t>(i)];
        threads[static_cast<std::size_t>(i)] = std::this_thread::get_id();
    });
    for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    for (std::size_t i = 1; i < threads.size(); ++i)
        EXPECT_NE(threads[i], std::this_thread::get_id());
    rankwin::runBands(0, [](int) { FAIL(); });
}

TEST(RunBands, AFailureLeavesOnTheCallingThreadAfterEveryBandEnded) {
    // Bands 2 and 4 fail: the first of them is rethrown; the slow bands were
    // waited for.
    std::atomic<int> finished{0};
    try {
        rankwin::runBands(5, [&](int i) {
            if (i == 4) throw std::runtime_error("band 4");
            if (i == 2) throw std::runtime_error("band 2");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++finished;
        });
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "band 2");
    }
    EXPECT_EQ(finished.load(), 3);

    // A failure of the calling thread's own band also waits for the others.
    finished = 0;
    EXPECT_THROW(rankwin::runBands(3,
                                   [&](int i) {
                                       if (i == 0) throw std::logic_error("band 0");
                                       std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                       ++finished;
                                   }),
                 std::logic_error);
    EXPECT_EQ(finished.load(), 2);
}

TEST(RunBands, ThreadsOnlyForLargeCalls) {
    EXPECT_EQ(rankwin::threadsFor(rankwin::kThreadedElements - 1, 8), 1);
    EXPECT_EQ(rankwin::threadsFor(rankwin::kThreadedElements, 3), 3);
    EXPECT_EQ(rankwin::threadsFor(rankwin::kThreadedElements, 1), 1);
    EXPECT_EQ(rankwin::threadsFor(rankwin::kThreadedElements, 100000), rankwin::kMaxThreads);
    EXPECT_EQ(rankwin::threadsFor(rankwin::kThreadedElements, 0), rankwin::threadCount());
}

// A kernel that marks each destination element with the band that wrote it
// and checks that its source pointer moved with the band.
std::atomic<int> kernelCalls{0};
rankwin::KernelStatus markingKernel(const std::int32_t* src, std::int32_t srcStep,
                                    std::int32_t* dst, std::int32_t dstStep, KernelSize roi,
                                    KernelSize mask, rankwin::KernelPoint anchor) {
    const int call = ++kernelCalls;
    if (mask.width != 3 || mask.height != 2 || anchor.x != 1 || anchor.y != 0) return -3;
    for (std::int32_t y = 0; y < roi.height; ++y) {
        const auto* in = reinterpret_cast<const std::int32_t*>(
            reinterpret_cast<const unsigned char*>(src) + static_cast<std::ptrdiff_t>(y) * srcStep);
        auto* out = reinterpret_cast<std::int32_t*>(reinterpret_cast<unsigned char*>(dst) +
                                                    static_cast<std::ptrdiff_t>(y) * dstStep);
        for (std::int32_t x = 0; x < roi.width; ++x) out[x] = in[x] * 1000 + call;
    }
    return 0;
}

TEST(RunBands, FilterInBandsCoversTheRegionOnceWithMovedPointers) {
    const KernelSize region{37, 29};
    const KernelSize mask{3, 2};
    const std::int32_t sourceWidth = region.width + mask.width - 1;
    std::vector<std::int32_t> source(static_cast<std::size_t>(sourceWidth) *
                                     (region.height + mask.height - 1));
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::int32_t>(i);
    for (int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        kernelCalls = 0;
        std::vector<std::int32_t> destination(static_cast<std::size_t>(region.width) *
                                              region.height, -1);
        // The source pointer is at the anchor (1, 0) of the first window.
        rankwin::filterInBands<std::int32_t>(
            &markingKernel, reinterpret_cast<const unsigned char*>(source.data() + 1),
            sourceWidth * 4, reinterpret_cast<unsigned char*>(destination.data()),
            region.width * 4, region, mask, rankwin::KernelPoint{1, 0}, threads, true);
        EXPECT_EQ(kernelCalls.load(), threads);
        for (std::int32_t y = 0; y < region.height; ++y) {
            for (std::int32_t x = 0; x < region.width; ++x) {
                const std::int32_t got = destination[static_cast<std::size_t>(y * region.width + x)];
                ASSERT_EQ(got / 1000, y * sourceWidth + x + 1) << x << "," << y;
            }
        }
    }
    // A refused call is an exception when the status is checked, and silent otherwise.
    std::vector<std::int32_t> destination(static_cast<std::size_t>(region.width) * region.height);
    const auto badAnchor = [&](bool check) {
        rankwin::filterInBands<std::int32_t>(
            &markingKernel, reinterpret_cast<const unsigned char*>(source.data()), sourceWidth * 4,
            reinterpret_cast<unsigned char*>(destination.data()), region.width * 4, region, mask,
            rankwin::KernelPoint{0, 0}, 2, check);
    };
    EXPECT_THROW(badAnchor(true), std::runtime_error);
    EXPECT_NO_THROW(badAnchor(false));
}

}  // namespace
