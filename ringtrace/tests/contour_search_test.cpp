// The search: its quirks, its termination bound, and agreement with a plain rendering of
// the search (full shortest-path runs, full predecessor copies, no remembered evaluations).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "contour_search.h"
#include "explicit_grid.h"
#include "graph/integer.h"
#include "graph/p_queue.h"
#include "render_output.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

struct plainNode {
    ringgraph::node_array<edge> predecessors;
    bool closed = false;
    int pathCost = 0, rowSum = 0, lo = 0, hi = 0;
};

struct plainOutcome {
    bool ended = false;
    int searchOutcome = 0;
    int lo = 0, hi = 0, pathCost = 0;
    ringgraph::node_array<edge> pred;
};

// The search exactly as the algorithm reads, with a full run and a full copy per evaluation.
plainOutcome plainSearch(pixelGrid& program, imagePair& img, int64_t limit) {
    using ringgraph::integer;
    explicitGrid g(program.width, program.height);
    g.copyCosts(program);
    const ringgraph::graph& G = g.G;
    auto rowOf = [&](int id) { return id % program.height; };
    auto isTerminal = [&](int id) { return id >= program.width * program.height; };
    plainOutcome out;
    ringgraph::node_array<int> dist(G, 0);
    ringgraph::node_array<edge> pred(G, ringgraph::nil);
    float dispersion = 0, secondaryMean = 0;
    auto evaluate = [&](plainNode& r) {
        for (edge e = G.first_out_edge(g.sourceTerminal); e != G.stop_out_edge(); e = G.next_out_edge(e)) {
            const int y = rowOf(g.A[G.target(e)]);
            g.cost[e] = (y > r.hi || y < r.lo) ? BLOCKED_COST : 1;
        }
        for (edge e = G.first_in_edge(g.sinkTerminal); e != G.stop_out_edge(); e = G.next_in_edge(e)) {
            const int y = rowOf(g.A[G.source(e)]);
            g.cost[e] = (y > r.hi || y < r.lo) ? BLOCKED_COST : 1;
        }
        ringgraph::DIJKSTRA(G, g.sourceTerminal, g.cost, dist, pred);
        uint32_t cost = 0, rows = 0;
        int n = 0, entry = -1, exit = -1;
        float mean = 0, q = 0, smean = 0;
        for (node v = g.sinkTerminal; pred[v] != ringgraph::nil;) {
            const edge e = pred[v];
            v = G.opposite(e, v);
            ++n;
            cost += static_cast<uint32_t>(g.cost[e]);
            const int id = g.A[v];
            if (isTerminal(id)) continue;
            const int y = rowOf(id);
            if (exit < 0) exit = y;
            entry = y;
            rows += static_cast<uint32_t>(y);
            const double p = img.primaryAt((id / program.height), y) & 0xff, s = img.secondaryAt((id / program.height), y) & 0xff;
            mean = static_cast<float>(mean + (p - mean) / n);
            q = static_cast<float>(q + (p - mean) * (p - mean));
            smean = static_cast<float>(smean + (s - smean) / n);
        }
        dispersion = static_cast<float>(static_cast<float>(q / static_cast<double>(n - 1)) /
                                        static_cast<double>(static_cast<float>(std::sqrt(double{mean}))));
        secondaryMean = smean;
        r.pathCost = static_cast<int>(cost);
        if (exit >= 0 && std::abs(entry - exit) <= 2) r.closed = true;
        r.predecessors = pred;
        r.rowSum = static_cast<int>(rows);
    };
    auto dropped = [&](const plainNode& c) {
        return c.hi - c.lo < 2 && (c.rowSum < 0 || c.rowSum > 100000000 || dispersion > 50000000.0f || secondaryMean < 0.0f);
    };

    ringgraph::p_queue<integer, plainNode> QNode;
    plainNode current;
    current.lo = 1;
    current.hi = program.height;
    current.pathCost = 10000000;
    current.rowSum = 100000;
    QNode.insert(integer(1000000), current);
    for (int64_t it = 0; it < limit; ++it) {
        const int mid = current.lo + (current.hi - current.lo) / 2;
        plainNode high;
        high.lo = mid;
        high.hi = current.hi;
        evaluate(high);
        if (QNode.size() == 0) return out.ended = true, out.searchOutcome = 10, out;
        if (!dropped(high)) QNode.insert(integer(high.pathCost), high);
        plainNode low;
        low.lo = current.lo;
        low.hi = mid;
        evaluate(low);
        if (!dropped(low)) QNode.insert(integer(low.pathCost), low);
        const auto m = QNode.find_min();
        if (QNode.size() == 0) return out.ended = true, out.searchOutcome = 10, out;
        current = QNode.inf(m);
        if (current.closed && current.rowSum > 0 && current.rowSum < 100000000 && dispersion < 50000000.0f &&
            secondaryMean > 0.0f) {
            out.ended = true;
            out.searchOutcome = 1;
            out.lo = current.lo;
            out.hi = current.hi;
            out.pathCost = current.pathCost;
            out.pred = current.predecessors;
            return out;
        }
        QNode.del_item(m);
    }
    return out;
}

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
        const plainOutcome ref = plainSearch(plain.grid, img, 10 * int64_t{H} + 100);
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
