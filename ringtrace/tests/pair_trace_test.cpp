// Tracing rasters in memory, and abandoning a trace: the program's result for the same
// pixels, and an interrupted shortest-path engine that works again afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "graph/large_allocator.h"
#include "graph/page_reuse.h"
#include "pair_trace.h"
#include "path_evaluation.h"
#include "ring_generator.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

imagePair ring(int W, int H, double drift) {
    ringgen::RingParams p;
    p.width = W;
    p.height = H;
    p.drift = drift;
    ringgen::RingImages rgb;
    std::string error;
    imagePair img(W, H, 0, 0);
    if (!ringgen::generateRing(p, &rgb, &error)) throw std::runtime_error(error);
    img.primary = ringgen::toRgbaRaster(rgb.primary, W, H);
    img.secondary = ringgen::toRgbaRaster(rgb.secondary, W, H);
    return img;
}

struct interrupted : std::exception {};

}  // namespace

TEST(PairTrace, CancelledBeforeAndDuringTheSearch) {
    imagePair img = ring(300, 200, 8);
    std::vector<uint8_t> marks(static_cast<size_t>(img.W * img.H), 0);
    tracerReport full;
    traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, full, marks.data());
    ASSERT_EQ(full.search.searchOutcome, SEARCH_ACCEPTED);
    ASSERT_GE(full.search.iterations, 3);
    ASSERT_EQ(static_cast<int>(full.contour.size()), full.marked);

    std::atomic<bool> cancel{true};
    tracerReport report;
    EXPECT_THROW(traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, report, marks.data(), &cancel),
                 traceCancelled);
    // Raised in the middle of the search: the trace ends at the next iteration.
    cancel = false;
    int64_t seen = 0;
    auto raiseAtTwo = [&](const searchProgress& p) {
        seen = p.iterations;
        if (p.iterations == 2) cancel = true;
    };
    EXPECT_THROW(traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, report, marks.data(), &cancel,
                              raiseAtTwo),
                 traceCancelled);
    EXPECT_EQ(seen, 2);
    // Not raised: the same result as without a flag.
    cancel = false;
    std::vector<uint8_t> again(marks.size(), 0);
    traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, report, again.data(), &cancel);
    traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, full, marks.data());
    EXPECT_EQ(again, marks);
    EXPECT_EQ(report.contour, full.contour);
    EXPECT_EQ(report.search.iterations, full.search.iterations);
}

TEST(PairTrace, InterruptedEngineIsPreparedAgain) {
    imagePair img = ring(400, 300, 0);
    pricedGrid pg(img);
    ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
    pathEvaluator fresh(pg.grid, img.primary.data(), img.secondary.data(), pred);
    branchNode expected(1, img.H, 0, false);
    const evaluationStats expectedStats = fresh.evaluateInterval(1, img.H, expected);

    // The bounds pass polls once per column: abandoned there, then in a run's settling.
    for (int abandonAt : {3, 100000}) {
        pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
        int polls = 0;
        ev.setInterrupt([&] {
            if (++polls == abandonAt) throw interrupted();
        });
        branchNode record(1, img.H, 0, false);
        if (abandonAt == 3) EXPECT_THROW(ev.evaluateInterval(1, img.H, record), interrupted);
        else ev.evaluateInterval(1, img.H, record);  // too few nodes to reach that many polls
        ev.setInterrupt(nullptr);
        branchNode after(1, img.H, 0, false);
        const evaluationStats stats = ev.evaluateInterval(1, img.H, after);
        EXPECT_EQ(after.pathCost, expected.pathCost);
        EXPECT_EQ(after.rowSum, expected.rowSum);
        EXPECT_EQ(*after.predecessors, *expected.predecessors);
        EXPECT_EQ(stats.dispersion, expectedStats.dispersion);
    }
}

// Pages kept from earlier owners hold whatever those left there: a trace whose arrays are
// made of them (here, pages full of ones) has exactly the result of one on fresh pages.
TEST(PairTrace, KeptPagesChangeNothing) {
    imagePair img = ring(720, 400, 5);
    auto trace = [&img](tracerReport& report, std::vector<uint8_t>& marks) {
        marks.assign(static_cast<size_t>(img.W * img.H), 0);
        traceRasters(img.primary.data(), img.secondary.data(), img.W, img.H, report, marks.data());
    };
    tracerReport fresh, reused;
    std::vector<uint8_t> freshMarks, reusedMarks;
    trace(fresh, freshMarks);
    ASSERT_EQ(fresh.search.searchOutcome, SEARCH_ACCEPTED);
    {
        ringgraph::page_reuse kept;
        for (int i = 0; i < 6; ++i) {
            void* block = ringgraph::map_block(2 * ringgraph::kHugePage);
            ASSERT_NE(block, nullptr);
            std::memset(block, 0xff, 2 * ringgraph::kHugePage);
            ASSERT_TRUE(kept.keep(block, 2 * ringgraph::kHugePage));
        }
        trace(reused, reusedMarks);
    }
    EXPECT_EQ(reusedMarks, freshMarks);
    EXPECT_EQ(reused.contour, fresh.contour);
    EXPECT_EQ(reused.search.iterations, fresh.search.iterations);
    EXPECT_EQ(reused.search.shortestPathRuns, fresh.search.shortestPathRuns);
    EXPECT_EQ(reused.search.nodesSettled, fresh.search.nodesSettled);
    EXPECT_EQ(reused.search.accepted.pathCost, fresh.search.accepted.pathCost);
    EXPECT_EQ(reused.search.acceptedStats.dispersion, fresh.search.acceptedStats.dispersion);
}
