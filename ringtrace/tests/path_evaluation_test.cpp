// Gated path evaluation: gating, closure, statistics, and the path against an independent
// shortest-path computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "contour_search.h"
#include "path_evaluation.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

struct evaluated {
    branchNode record;
    evaluationStats stats;
};

evaluated evaluate(pricedGrid& pg, imagePair& img, int lo, int hi) {
    ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
    pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
    evaluated out{branchNode(lo, hi, 0, false), {}};
    out.stats = ev.evaluateInterval(lo, hi, out.record);
    return out;
}

// Rows where the path enters (column 1) and leaves (column width - 3).
std::pair<int, int> entryExit(const pixelGrid& g, const branchNode& r) {
    const auto& p = *r.predecessors;
    const int exitRow = g.rowOf(g.A[g.G.source(p.front())]);
    const int entryRow = g.rowOf(g.A[g.G.target(p.back())]);
    return {entryRow, exitRow};
}

// Bellman-Ford over the grid with the current costs: the cheapest source-to-sink cost.
int64_t referenceSinkDistance(const pixelGrid& g) {
    const int n = g.G.number_of_nodes();
    std::vector<int64_t> d(static_cast<size_t>(n), std::numeric_limits<int64_t>::max());
    d[static_cast<size_t>(g.sourceTerminal.index)] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            const auto u = static_cast<size_t>(g.G.source(e).index), v = static_cast<size_t>(g.G.target(e).index);
            if (d[u] == std::numeric_limits<int64_t>::max()) continue;
            if (d[u] + g.cost[e] < d[v]) {
                d[v] = d[u] + g.cost[e];
                changed = true;
            }
        }
    }
    return d[static_cast<size_t>(g.sinkTerminal.index)];
}

// Sets every grid edge to `high` and opens a zero-cost corridor from (1, entry) straight
// along row `entry`, then stepping one row per column towards `exit`.
void corridor(pixelGrid& g, int entry, int exit, int high) {
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
        if (!g.isTerminal(g.A[g.G.source(e)]) && !g.isTerminal(g.A[g.G.target(e)])) g.cost[e] = high;
    }
    int y = entry;
    for (int x = 1; x < g.width - 3; ++x) {
        const int step = (x >= g.width - 3 - std::abs(exit - y)) ? (exit > y ? 1 : -1) : 0;
        const node v = g.nodess[static_cast<size_t>(x * g.height + y)];
        for (edge e = g.G.first_out_edge(v); e != g.G.stop_out_edge(); e = g.G.next_out_edge(e)) {
            const int t = g.A[g.G.target(e)];
            if (g.columnOf(t) == x + 1 && g.rowOf(t) == y + step) g.cost[e] = 0;
        }
        y += step;
    }
}

}  // namespace

TEST(PathEvaluation, SingleRowIntervalCloses) {
    imagePair img = uniformPair(20, 15);
    pricedGrid pg(img);
    const evaluated r = evaluate(pg, img, 6, 6);
    EXPECT_TRUE(r.record.closed);
    EXPECT_LT(r.record.pathCost, BLOCKED_COST);
    EXPECT_EQ(entryExit(pg.grid, r.record), std::make_pair(6, 6));
    // Straight along row 6: 17 grid nodes, 16 steps of cost 7, two open terminal edges.
    EXPECT_EQ(r.record.pathCost, 16 * 7 + 2);
    EXPECT_EQ(r.record.rowSum, 17 * 6);
    EXPECT_EQ(r.record.lo, 6);
    EXPECT_EQ(r.record.hi, 6);
    EXPECT_FLOAT_EQ(r.stats.secondaryMean, 64.0f);
    EXPECT_EQ(r.stats.dispersion, 0.0f);
}

TEST(PathEvaluation, IntervalOutsideTheActiveRowsPaysTwoBlockedEdges) {
    imagePair img = uniformPair(12, 15);
    pricedGrid pg(img);
    for (auto [lo, hi] : {std::pair{0, 2}, std::pair{12, 15}, std::pair{9, 3}}) {
        const evaluated r = evaluate(pg, img, lo, hi);
        EXPECT_GE(r.record.pathCost, 2 * BLOCKED_COST) << lo << ".." << hi;
    }
}

TEST(PathEvaluation, ClosureToleranceIsTwoRows) {
    imagePair img = uniformPair(24, 21);
    for (auto [entry, exit, closed] : {std::tuple{6, 8, true}, std::tuple{6, 9, false}, std::tuple{12, 10, true},
                                       std::tuple{13, 10, false}}) {
        pricedGrid pg(img);
        corridor(pg.grid, entry, exit, 1500);
        const evaluated r = evaluate(pg, img, std::min(entry, exit), std::max(entry, exit));
        EXPECT_EQ(entryExit(pg.grid, r.record), std::make_pair(entry, exit));
        EXPECT_EQ(r.record.closed, closed) << entry << " -> " << exit;
        EXPECT_EQ(r.record.pathCost, 2);
    }
}

TEST(PathEvaluation, ZeroPrimaryRedGivesNaNDispersion) {
    imagePair img(16, 12, word(0, 94, 64), word(64, 0, 0));
    pricedGrid pg(img);
    const evaluated r = evaluate(pg, img, 3, 8);
    EXPECT_TRUE(std::isnan(r.stats.dispersion));
    EXPECT_FALSE(r.stats.dispersion > DISPERSION_LIMIT);
    EXPECT_FALSE(r.stats.dispersion < DISPERSION_LIMIT);
}

TEST(PathEvaluation, StatisticsFollowTheRunningUpdates) {
    std::mt19937 rng(11);
    imagePair img = randomPair(rng, 14, 12);
    pricedGrid pg(img);
    const evaluated r = evaluate(pg, img, 3, 8);
    // Recompute along the recorded path from the sink, same order and precision.
    float mean = 0, q = 0, smean = 0;
    int n = 0;
    for (const edge e : *r.record.predecessors) {
        ++n;
        const int id = pg.grid.A[pg.grid.G.source(e)];
        if (pg.grid.isTerminal(id)) continue;
        const int x = id / img.H, y = id % img.H;
        const double p = img.primaryAt(x, y) & 0xff, s = img.secondaryAt(x, y) & 0xff;
        mean = static_cast<float>(mean + (p - mean) / n);
        q = static_cast<float>(q + (p - mean) * (p - mean));
        smean = static_cast<float>(smean + (s - smean) / n);
    }
    const auto d = static_cast<float>(static_cast<float>(q / static_cast<double>(n - 1)) /
                                      static_cast<double>(static_cast<float>(std::sqrt(double{mean}))));
    EXPECT_EQ(r.stats.dispersion, d);
    EXPECT_EQ(r.stats.secondaryMean, smean);
}

TEST(PathEvaluation, PathIsACheapestOneAndEvaluationsRepeatExactly) {
    std::mt19937 rng(77);
    for (int round = 0; round < 25; ++round) {
        const int W = 5 + static_cast<int>(rng() % 12), H = 7 + static_cast<int>(rng() % 12);
        imagePair img = randomPair(rng, W, H);
        pricedGrid pg(img);
        const int lo = static_cast<int>(rng() % static_cast<unsigned>(H)), hi = lo + static_cast<int>(rng() % 6);
        ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
        pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
        branchNode a(lo, hi, 0, false), b(lo, hi, 0, false);
        const evaluationStats sa = ev.evaluateInterval(lo, hi, a);
        EXPECT_EQ(referenceSinkDistance(pg.grid), a.pathCost) << "round " << round;

        // An evaluator keeps what it needs of the rasters: they may be gone once it exists.
        {
            std::vector<uint32_t> primary = img.primary, secondary = img.secondary;
            ringgraph::node_array<edge> ownPred(pg.grid.G, ringgraph::nil);
            pathEvaluator alone(pg.grid, primary.data(), secondary.data(), ownPred);
            std::fill(primary.begin(), primary.end(), 0xffffffffu);
            std::fill(secondary.begin(), secondary.end(), 0u);
            branchNode d(lo, hi, 0, false);
            const evaluationStats sd = alone.evaluateInterval(lo, hi, d);
            EXPECT_EQ(*a.predecessors, *d.predecessors);
            EXPECT_TRUE((std::isnan(sa.dispersion) && std::isnan(sd.dispersion)) || sa.dispersion == sd.dispersion);
            EXPECT_EQ(sa.secondaryMean, sd.secondaryMean) << "round " << round;
        }

        // The record's path is exactly the walk back through pred, edge by edge.
        node v = pg.grid.sinkTerminal;
        size_t k = 0;
        int64_t sum = 0;
        for (; pred[v] != ringgraph::nil; v = pg.grid.G.opposite(pred[v], v), ++k) {
            ASSERT_LT(k, a.predecessors->size());
            EXPECT_EQ((*a.predecessors)[k], pred[v]);
            sum += pg.grid.cost[pred[v]];
        }
        EXPECT_EQ(k, a.predecessors->size());
        EXPECT_EQ(v, pg.grid.sourceTerminal);
        EXPECT_EQ(sum, a.pathCost);

        ev.evaluateInterval(3, H - 4, b);  // something else in between
        branchNode c(lo, hi, 0, false);
        const evaluationStats sc = ev.evaluateInterval(lo, hi, c);
        EXPECT_EQ(*a.predecessors, *c.predecessors);
        EXPECT_EQ(a.pathCost, c.pathCost);
        EXPECT_EQ(a.rowSum, c.rowSum);
        EXPECT_EQ(a.closed, c.closed);
        EXPECT_TRUE((std::isnan(sa.dispersion) && std::isnan(sc.dispersion)) || sa.dispersion == sc.dispersion);
        EXPECT_EQ(sa.secondaryMean, sc.secondaryMean);

        // Restoring the record into a fresh array reproduces the same walk.
        ringgraph::node_array<edge> restored(pg.grid.G, ringgraph::nil);
        restorePredecessors(a, pg.grid, restored);
        k = 0;
        for (v = pg.grid.sinkTerminal; restored[v] != ringgraph::nil; v = pg.grid.G.opposite(restored[v], v)) {
            EXPECT_EQ(restored[v], (*a.predecessors)[k++]);
        }
        EXPECT_EQ(k, a.predecessors->size());
    }
}

TEST(PathEvaluation, NoPathGivesAnEmptyRecord) {
    for (auto [W, H] : {std::pair{3, 9}, std::pair{9, 6}, std::pair{1, 1}}) {
        imagePair img = uniformPair(W, H);
        pricedGrid pg(img);
        const evaluated r = evaluate(pg, img, 1, H);
        EXPECT_EQ(r.record.pathCost, 0);
        EXPECT_EQ(r.record.rowSum, 0);
        EXPECT_FALSE(r.record.closed);
        EXPECT_TRUE(r.record.predecessors->empty());
        EXPECT_TRUE(std::isnan(r.stats.dispersion));
        EXPECT_EQ(r.stats.secondaryMean, 0.0f);
    }
}
