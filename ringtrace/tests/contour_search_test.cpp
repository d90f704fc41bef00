// The search: its quirks, its termination bound, and agreement with a plain rendering of
// the search (full shortest-path runs, full predecessor copies, no remembered evaluations).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "contour_search.h"
#include "plain_search.h"
#include "render_output.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

std::vector<float> marks(const pixelGrid& g, const ringgraph::node_array<edge>& pred) {
    std::vector<float> m(static_cast<size_t>(g.width * g.height), BACKGROUND_MARK);
    markContour(g, pred, m.data());
    return m;
}

}  // namespace

TEST(ContourSearch, UniformImageAcceptsTheHighHalfsStraightRow) {
    imagePair img = uniformPair(30, 24);
    pricedGrid pg(img);
    ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
    pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
    const searchResult r = searchContour(ev, pg.grid, pred, maxIterations(24));
    ASSERT_EQ(r.searchOutcome, SEARCH_ACCEPTED);
    EXPECT_EQ(r.iterations, 1);
    // Both halves cost the same; the high half was queued first and wins the tie.
    EXPECT_EQ(r.accepted.lo, 12);
    EXPECT_EQ(r.accepted.hi, 24);
    EXPECT_TRUE(r.accepted.closed);
    EXPECT_EQ(r.shortestPathRuns, 2);
}

TEST(ContourSearch, SearchesThatNeverAcceptEndAtTheBound) {
    // Secondary red 0 everywhere (mean 0.0), and primary red 0 everywhere (NaN dispersion).
    for (uint32_t primaryWord : {word(100, 94, 64), word(0, 94, 64)}) {
        const uint32_t secondaryWord = primaryWord == word(0, 94, 64) ? word(64, 0, 0) : word(0, 0, 0);
        imagePair img(40, 30, primaryWord, secondaryWord);
        pricedGrid pg(img);
        ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
        pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
        const searchResult r = searchContour(ev, pg.grid, pred, maxIterations(30));
        EXPECT_EQ(r.searchOutcome, SEARCH_EXHAUSTED);
        EXPECT_TRUE(r.cutShort);
        EXPECT_EQ(r.iterations, maxIterations(30));
        // Repeated intervals are answered from memory: few real searches.
        EXPECT_LE(r.shortestPathRuns, 4 * 30);
    }
}

TEST(ContourSearch, TinyImagesWithoutAPathEndExhausted) {
    for (auto [W, H] : {std::pair{1, 1}, std::pair{9, 6}, std::pair{3, 12}}) {
        imagePair img = uniformPair(W, H);
        pricedGrid pg(img);
        ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
        pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
        const searchResult r = searchContour(ev, pg.grid, pred, maxIterations(H));
        EXPECT_EQ(r.searchOutcome, SEARCH_EXHAUSTED);
    }
}

TEST(ContourSearch, BoundGrowsWithHeightAndCoversTheGuaranteedRange) {
    for (int H : {1, 7, 200, 4096, 100000}) EXPECT_GE(maxIterations(H), 10 * int64_t{H} + 100);
}

TEST(ContourSearch, AgreesWithThePlainSearchOnRandomImages) {
    std::mt19937 rng(4242);
    int compared = 0, accepted = 0;
    for (int round = 0; round < 60; ++round) {
        const int W = 6 + static_cast<int>(rng() % 14), H = 7 + static_cast<int>(rng() % 16);
        imagePair img = randomPair(rng, W, H);
        if (round % 5 == 0) {
            // Some rounds with ties everywhere.
            for (auto& w : img.primary) w = word(100, (rng() % 2) ? 94 : 64, (rng() % 3) ? 64 : 94);
        }
        pricedGrid fast(img), plain(img);
        const plainOutcome ref = plainSearch(plain.grid, img.primary.data(), img.secondary.data(), 10 * int64_t{H} + 100);
        if (!ref.ended) continue;
        ++compared;
        ringgraph::node_array<edge> pred(fast.grid.G, ringgraph::nil);
        pathEvaluator ev(fast.grid, img.primary.data(), img.secondary.data(), pred);
        const searchResult r = searchContour(ev, fast.grid, pred, maxIterations(H));
        ASSERT_EQ(r.searchOutcome, ref.searchOutcome) << "round " << round;
        if (r.searchOutcome != SEARCH_ACCEPTED) continue;
        ++accepted;
        EXPECT_EQ(r.accepted.lo, ref.lo);
        EXPECT_EQ(r.accepted.hi, ref.hi);
        EXPECT_EQ(r.accepted.pathCost, ref.pathCost);
        EXPECT_EQ(marks(fast.grid, pred), marks(plain.grid, ref.pred)) << "round " << round;
    }
    EXPECT_GE(compared, 30);
    EXPECT_GE(accepted, 10);
}
