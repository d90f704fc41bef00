// The search: its quirks, its termination bound, and agreement with a plain rendering of
// the search (full shortest-path runs, full predecessor copies, no remembered evaluations).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "contour_search.h"
#include "plain_search.h"
#include "render_output.h"
#include "ring_generator.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

std::vector<float> marks(const pixelGrid& g, const ringgraph::node_array<edge>& pred) {
    std::vector<float> m(static_cast<size_t>(g.width * g.height), BACKGROUND_MARK);
    markContour(g, pred, m.data());
    return m;
}

bool sameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

struct comparison {
    int compared = 0, accepted = 0, cutShort = 0, multiIteration = 0, reused = 0, finishedLater = 0;
};

// Runs the program's search and the plain one on the same image with the same iteration
// limit and demands the same ending, iteration count, accepted record, statistics and marks.
void expectSameAsPlain(imagePair& img, int64_t limit, int64_t corridor, const std::string& what, comparison& c) {
    pricedGrid fast(img), plain(img);
    const plainOutcome ref = plainSearch(plain.grid, img.primary.data(), img.secondary.data(), limit);
    ringgraph::node_array<edge> pred(fast.grid.G, ringgraph::nil);
    pathEvaluator ev(fast.grid, img.primary.data(), img.secondary.data(), pred);
    ev.setCorridor(corridor);
    const searchResult r = searchContour(ev, fast.grid, pred, limit);
    ++c.compared;
    c.reused += r.reusedPaths > 0;
    c.finishedLater += r.finishedLater > 0;
    ASSERT_EQ(r.cutShort, !ref.ended) << what;
    ASSERT_EQ(r.iterations, ref.iterations) << what;
    if (r.cutShort) {
        ++c.cutShort;
        return;
    }
    ASSERT_EQ(r.searchOutcome, ref.searchOutcome) << what;
    if (r.searchOutcome != SEARCH_ACCEPTED) return;
    ++c.accepted;
    c.multiIteration += r.iterations >= 4;
    EXPECT_EQ(r.accepted.lo, ref.lo) << what;
    EXPECT_EQ(r.accepted.hi, ref.hi) << what;
    EXPECT_EQ(r.accepted.pathCost, ref.pathCost) << what;
    EXPECT_EQ(r.accepted.rowSum, ref.rowSum) << what;
    EXPECT_EQ(r.accepted.closed, ref.closed) << what;
    EXPECT_TRUE(sameFloat(r.latest.dispersion, ref.dispersion)) << what;
    EXPECT_TRUE(sameFloat(r.latest.secondaryMean, ref.secondaryMean)) << what;
    EXPECT_EQ(marks(fast.grid, pred), marks(plain.grid, ref.pred)) << what;
}

// A small generated ring whose ridge leaves `drift` rows away from where it enters, so the
// cheapest paths do not close and the search must narrow its intervals step by step.
imagePair driftRing(int W, int H, double drift, uint64_t seed) {
    ringgen::RingParams p;
    p.width = W;
    p.height = H;
    p.drift = drift;
    p.seed = seed;
    p.amplitude = 0.08;
    ringgen::RingImages rgb;
    std::string error;
    imagePair img(W, H, 0, 0);
    if (!ringgen::generateRing(p, &rgb, &error)) return img;
    img.primary = ringgen::toRgbaRaster(rgb.primary, W, H);
    img.secondary = ringgen::toRgbaRaster(rgb.secondary, W, H);
    return img;
}

// Pixels whose orientation vector vanishes: every edge at them costs 0.
void zeroCostSpots(std::mt19937& rng, imagePair& img, int count) {
    for (int k = 0; k < count; ++k) {
        const int x = static_cast<int>(rng() % static_cast<unsigned>(img.W));
        const int y = static_cast<int>(rng() % static_cast<unsigned>(img.H));
        img.primaryAt(x, y) = (img.primaryAt(x, y) & 0xff0000ffu) | 0x00404000u;
    }
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

TEST(ContourSearch, AgreesWithThePlainSearchOnSearchesOfManyIterations) {
    std::mt19937 rng(8086);
    comparison c;
    for (int round = 0; round < 48; ++round) {
        const int W = 24 + static_cast<int>(rng() % 40), H = 24 + static_cast<int>(rng() % 24);
        const double drift = 3 + static_cast<int>(rng() % 6);
        imagePair img = driftRing(W, H, round % 8 == 0 ? -drift : drift, static_cast<uint64_t>(round));
        if (round % 3 == 1) zeroCostSpots(rng, img, W * H / 20);
        // Corridors from exactly the cheapest open path to generous ones.
        const int64_t corridor = std::vector<int64_t>{1000, 1020, 1005, 1200}[static_cast<size_t>(round % 4)];
        expectSameAsPlain(img, 10 * int64_t{H} + 100, corridor, "ring round " + std::to_string(round), c);
    }
    EXPECT_GE(c.accepted, 40);
    EXPECT_GE(c.multiIteration, 20);
    EXPECT_GE(c.reused, 20);
    EXPECT_GE(c.finishedLater, 10);  // given-up runs finished when read
}

TEST(ContourSearch, AgreesWithThePlainSearchOnZeroCostsNarrowIntervalsAndSearchesThatNeverEnd) {
    std::mt19937 rng(1979);
    comparison c;
    for (int round = 0; round < 90; ++round) {
        // Few rows: intervals turn narrow after a step or two.
        const int W = 6 + static_cast<int>(rng() % 14), H = round % 2 == 0 ? 7 + static_cast<int>(rng() % 4)
                                                                          : 7 + static_cast<int>(rng() % 20);
        imagePair img = randomPair(rng, W, H);
        switch (round % 6) {
            case 0:  // ties everywhere
                for (auto& w : img.primary) w = word(100, (rng() % 2) ? 94 : 64, (rng() % 3) ? 64 : 94);
                break;
            case 1:  // many zero-cost edges, zero-cost cycles among them
                zeroCostSpots(rng, img, W * H / 3);
                break;
            case 2:  // no support anywhere: never accepted, ended by the iteration limit
                for (auto& w : img.secondary) w = word(0, 0, 0);
                break;
            case 3:  // primary red 0 along every path: NaN dispersion, never accepted either
                for (auto& w : img.primary) w = word(0, 94, 64);
                break;
            default:
                break;
        }
        const int64_t limit = round % 6 == 2 || round % 6 == 3 ? 40 : 10 * int64_t{H} + 100;
        expectSameAsPlain(img, limit, round % 3 == 0 ? 1000 : 1020, "round " + std::to_string(round), c);
    }
    EXPECT_GE(c.accepted, 25);
    EXPECT_GE(c.cutShort, 25);
    EXPECT_GE(c.reused, 10);
    EXPECT_GE(c.finishedLater, 10);
}
