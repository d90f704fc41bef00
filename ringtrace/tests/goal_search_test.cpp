// The goal-directed search against brute force on random grids: its potential is a
// consistent lower bound, its paths are the tie-broken shortest paths (capped or not), and
// a parent's path answers every sub-interval that holds its ends; and the plain reference
// routine gives the same trees on grids.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "explicit_grid.h"
#include "graph/goal_search.h"
#include "path_evaluation.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

constexpr int64_t kFar = std::numeric_limits<int64_t>::max() / 4;

// Random costs: small ranges make many equal paths, zeros make zero-cost cycles.
void randomCosts(std::mt19937& rng, pixelGrid& g, int round) {
    const int range = round % 4 == 0 ? 2 : round % 4 == 1 ? 4 : round % 4 == 2 ? 40 : 2002;
    const int least = round % 3 == 0 ? 1 : 0;
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
        if (e.index < g.G.number_of_grid_edges()) g.cost[e] = least + static_cast<int>(rng() % static_cast<unsigned>(range));
    }
}

void gate(pixelGrid& g, int lo, int hi) {
    auto price = [&](int y) { return (y > hi || y < lo) ? BLOCKED_COST : 1; };
    for (int32_t t = 0; t < g.G.band_rows(); ++t) {
        const int32_t base = g.G.number_of_grid_edges();
        g.cost[edge{base + 2 * t}] = price(3 + t);
        g.cost[edge{base + 2 * t + 1}] = price(3 + t);
    }
}

// The tie rule by its definition: least (cost, edge count), predecessor the earliest edge
// that ends such a path. Bellman-Ford on the pair, then the tight edges.
struct bruteTree {
    std::vector<int64_t> dist;
    std::vector<int64_t> hops;
    std::vector<int32_t> pred;  // edge index, -1 for none
};
bruteTree bruteForce(const pixelGrid& g) {
    const auto n = static_cast<size_t>(g.G.number_of_nodes());
    bruteTree t{std::vector<int64_t>(n, kFar), std::vector<int64_t>(n, kFar), std::vector<int32_t>(n, -1)};
    const auto s = static_cast<size_t>(g.sourceTerminal.index);
    t.dist[s] = 0;
    t.hops[s] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            const auto u = static_cast<size_t>(g.G.source(e).index), v = static_cast<size_t>(g.G.target(e).index);
            if (t.dist[u] == kFar) continue;
            const int64_t d = t.dist[u] + g.cost[e], h = t.hops[u] + 1;
            if (d < t.dist[v] || (d == t.dist[v] && h < t.hops[v])) {
                t.dist[v] = d;
                t.hops[v] = h;
                changed = true;
            }
        }
    }
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
        const auto u = static_cast<size_t>(g.G.source(e).index), v = static_cast<size_t>(g.G.target(e).index);
        if (t.dist[u] == kFar || t.dist[u] + g.cost[e] != t.dist[v] || t.hops[u] + 1 != t.hops[v]) continue;
        if (t.pred[v] < 0 || e.index < t.pred[v]) t.pred[v] = e.index;
    }
    return t;
}

// Distances to the sink with every terminal edge at 1.
std::vector<int64_t> distancesToSink(pixelGrid& g) {
    gate(g, 0, g.height);
    const auto n = static_cast<size_t>(g.G.number_of_nodes());
    std::vector<int64_t> d(n, kFar);
    d[static_cast<size_t>(g.sinkTerminal.index)] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            const auto u = static_cast<size_t>(g.G.source(e).index), v = static_cast<size_t>(g.G.target(e).index);
            if (d[v] != kFar && d[v] + g.cost[e] < d[u]) {
                d[u] = d[v] + g.cost[e];
                changed = true;
            }
        }
    }
    return d;
}

// The sink's path as edge indices, walking back.
std::vector<int32_t> sinkPath(const pixelGrid& g, const std::vector<int32_t>& pred) {
    std::vector<int32_t> path;
    for (node v = g.sinkTerminal; pred[static_cast<size_t>(v.index)] >= 0;) {
        const edge e{pred[static_cast<size_t>(v.index)]};
        path.push_back(e.index);
        v = g.G.source(e);
    }
    return path;
}
std::vector<int32_t> edgeIds(const std::vector<edge>& path) {
    std::vector<int32_t> ids;
    for (const edge e : path) ids.push_back(e.index);
    return ids;
}
std::vector<int32_t> sinkPath(const pixelGrid& g, const ringgraph::node_array<edge>& pred) {
    std::vector<int32_t> path;
    for (node v = g.sinkTerminal; pred[v] != ringgraph::nil; v = g.G.source(pred[v])) path.push_back(pred[v].index);
    return path;
}

int randomSize(std::mt19937& rng, int least, int spread) { return least + static_cast<int>(rng() % static_cast<unsigned>(spread)); }

// A grid of random size (each side from `least` to `least + spread - 1`) with random costs.
void randomGrid(std::mt19937& rng, pixelGrid& g, int round, int leastW, int spreadW, int leastH, int spreadH) {
    const int W = randomSize(rng, leastW, spreadW);
    const int H = randomSize(rng, leastH, spreadH);
    buildGrid(g, W, H);
    randomCosts(rng, g, round);
}

}  // namespace

TEST(GoalSearch, PotentialIsAConsistentLowerBoundForEveryCorridor) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        pixelGrid g;
        randomGrid(rng, g, round, 4, 18, 7, 18);
        const std::vector<int64_t> toSink = distancesToSink(g);
        ringgraph::goal_search engine;
        // From a corridor of exactly the source's distance to one that keeps everything.
        engine.set_corridor(std::vector<int64_t>{1000, 1001, 1020, 1300, 100000}[static_cast<size_t>(round % 5)]);
        engine.prepare(g.G, g.cost);
        const int64_t D = toSink[static_cast<size_t>(g.sourceTerminal.index)];
        ASSERT_EQ(engine.source_distance(), D == kFar ? ringgraph::goal_search::kUnreachable : D) << "round " << round;
        EXPECT_EQ(engine.potential(g.G, g.sinkTerminal), 0);
        for (node v = g.G.first_node(); v != g.G.stop_node(); v = g.G.next_node(v)) {
            if (toSink[static_cast<size_t>(v.index)] != kFar) {
                ASSERT_LE(engine.potential(g.G, v), toSink[static_cast<size_t>(v.index)]) << "round " << round;
            }
        }
        // Consistent on every edge with the least terminal costs, so with any gating.
        for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            ASSERT_LE(engine.potential(g.G, g.G.source(e)), g.cost[e] + engine.potential(g.G, g.G.target(e)))
                << "round " << round << " edge " << e.index;
        }
    }
}

TEST(GoalSearch, ColumnMovesFromThePricingGiveTheSamePotential) {
    // Priced costs come with each column's least moves; the same costs written edge by edge
    // come without, and the bounds are then found from the costs. Both must agree.
    std::mt19937 rng(12);
    for (int round = 0; round < 6; ++round) {
        imagePair img = randomPair(rng, randomSize(rng, 6, 40), randomSize(rng, 8, 60));
        pricedGrid priced(img);
        ASSERT_NE(priced.grid.cost.current_column_moves(), nullptr);
        pixelGrid plain;
        buildGrid(plain, img.W, img.H);
        for (int32_t e = 0; e < plain.G.number_of_grid_edges(); ++e) plain.cost[edge{e}] = priced.grid.cost.get(edge{e});
        ASSERT_EQ(plain.cost.current_column_moves(), nullptr);
        ringgraph::goal_search a, b;
        a.prepare(priced.grid.G, priced.grid.cost);
        b.prepare(plain.G, plain.cost);
        ASSERT_EQ(a.source_distance(), b.source_distance()) << "round " << round;
        ASSERT_EQ(a.corridor_count(), b.corridor_count()) << "round " << round;
        for (node v = plain.G.first_node(); v != plain.G.stop_node(); v = plain.G.next_node(v)) {
            ASSERT_EQ(a.potential(priced.grid.G, v), b.potential(plain.G, v)) << "round " << round << " node " << v.index;
        }
    }
}

TEST(GoalSearch, RunsFollowTheTieRuleAndCapsAreLowerBounds) {
    std::mt19937 rng(99);
    int capped = 0, exactAtCap = 0;
    for (int round = 0; round < 80; ++round) {
        pixelGrid g;
        randomGrid(rng, g, round, 5, 16, 7, 16);
        ringgraph::goal_search engine;
        engine.set_corridor(round % 2 == 0 ? 1000 : 1020);
        engine.prepare(g.G, g.cost);
        if (engine.source_distance() == ringgraph::goal_search::kUnreachable) continue;
        ringgraph::node_array<edge> pred(g.G, ringgraph::nil);
        for (int k = 0; k < 4; ++k) {
            const int lo = randomSize(rng, 0, g.height), hi = lo + randomSize(rng, 0, 6);
            gate(g, lo, hi);
            const bruteTree t = bruteForce(g);
            const int64_t exact = t.dist[static_cast<size_t>(g.sinkTerminal.index)];
            ASSERT_TRUE(engine.run(g.G, g.cost, pred, ringgraph::goal_search::kUncapped));
            ASSERT_EQ(engine.distance(), exact) << "round " << round;
            ASSERT_EQ(sinkPath(g, pred), sinkPath(g, t.pred)) << "round " << round;
            // The run without a predecessor array works out the same path from its keys.
            std::vector<edge> path;
            ASSERT_TRUE(engine.run_path(g.G, g.cost, path, ringgraph::goal_search::kUncapped));
            ASSERT_EQ(engine.distance(), exact) << "round " << round;
            ASSERT_EQ(edgeIds(path), sinkPath(g, t.pred)) << "round " << round;
            ASSERT_TRUE(engine.run_path(g.G, g.cost, path, exact));
            ASSERT_EQ(edgeIds(path), sinkPath(g, t.pred)) << "round " << round;

            // A cap at the exact cost still finds the path (the run stops only past the cap).
            ASSERT_TRUE(engine.run(g.G, g.cost, pred, exact));
            EXPECT_EQ(sinkPath(g, pred), sinkPath(g, t.pred));
            ++exactAtCap;
            const int64_t cap = exact - 1 - static_cast<int64_t>(rng() % static_cast<unsigned>(exact));
            if (cap >= 0) {
                ASSERT_FALSE(engine.run(g.G, g.cost, pred, cap));
                EXPECT_GT(engine.distance(), cap);
                EXPECT_LE(engine.distance(), exact);
                ASSERT_FALSE(engine.run_path(g.G, g.cost, path, cap));
                EXPECT_TRUE(path.empty());
                ++capped;
            }
        }
    }
    EXPECT_GT(capped, 100);
    EXPECT_GT(exactAtCap, 100);
}

TEST(GoalSearch, AParentsPathAnswersEverySubIntervalHoldingItsEnds) {
    std::mt19937 rng(5150);
    int reusable = 0;
    for (int round = 0; round < 50; ++round) {
        pixelGrid g;
        randomGrid(rng, g, round, 5, 14, 9, 16);
        const int lo = randomSize(rng, 1, 4), hi = g.height - randomSize(rng, 1, 4);
        gate(g, lo, hi);
        const bruteTree parent = bruteForce(g);
        const std::vector<int32_t> path = sinkPath(g, parent.pred);
        if (path.size() < 2) continue;
        const int exitRow = g.rowOf(g.G.source(edge{path.front()}).index);
        const int entryRow = g.rowOf(g.G.target(edge{path.back()}).index);
        for (int a = lo; a <= std::min(entryRow, exitRow); ++a) {
            for (int b = std::max(entryRow, exitRow); b <= hi; ++b) {
                gate(g, a, b);
                const bruteTree child = bruteForce(g);
                ASSERT_EQ(sinkPath(g, child.pred), path) << "round " << round << " [" << a << ", " << b << "]";
                ASSERT_EQ(child.dist[static_cast<size_t>(g.sinkTerminal.index)],
                          parent.dist[static_cast<size_t>(g.sinkTerminal.index)]);
                ++reusable;
            }
        }
    }
    EXPECT_GT(reusable, 200);
}

// The plain reference search's routine (the general graph component's, on the explicit
// build) is the oracle the search is held to: on grids it must give the tie-broken tree too,
// for every node, with zero-cost cycles and blocked terminal edges.
TEST(GoalSearch, ThePlainReferenceRoutineGivesTheSameTreeOnGrids) {
    std::mt19937 rng(31337);
    for (int round = 0; round < 60; ++round) {
        pixelGrid g;
        randomGrid(rng, g, round, 4, 16, 7, 16);
        for (edge e = edge{g.G.number_of_grid_edges()}; e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            g.cost[e] = rng() % 3 == 0 ? BLOCKED_COST : 1;
        }
        explicitGrid ref(g.width, g.height);
        ref.copyCosts(g);
        ringgraph::node_array<int> dist;
        ringgraph::node_array<edge> pred;
        ringgraph::DIJKSTRA(ref.G, ref.sourceTerminal, ref.cost, dist, pred);
        const bruteTree t = bruteForce(g);
        for (node v = g.G.first_node(); v != g.G.stop_node(); v = g.G.next_node(v)) {
            const auto i = static_cast<size_t>(v.index);
            ASSERT_EQ(pred[v] == ringgraph::nil ? -1 : pred[v].index, t.pred[i]) << "round " << round << " node " << v.index;
            if (t.pred[i] >= 0) {
                ASSERT_EQ(dist[v], t.dist[i]) << "round " << round;
            }
        }
    }
}

TEST(GoalSearch, AnEngineUsedAgainMatchesAFreshOne) {
    // One engine prepared over and over keeps its per-node state between potentials (only
    // the corridor's part is made afresh): on grids of changing sizes, and on the same grid
    // with new costs and corridors, it must agree with an engine that never ran before.
    std::mt19937 rng(77);
    ringgraph::goal_search reused;
    pixelGrid g;
    for (int round = 0; round < 40; ++round) {
        if (round % 4 == 0) {
            randomGrid(rng, g, round, 4, 14, 7, 14);
        } else {
            randomCosts(rng, g, round);
        }
        const int64_t corridor = std::vector<int64_t>{1000, 1020, 1300, 100000}[static_cast<size_t>(round % 4)];
        ringgraph::goal_search fresh;
        fresh.set_corridor(corridor);
        reused.set_corridor(corridor);
        fresh.prepare(g.G, g.cost);
        reused.prepare(g.G, g.cost);
        ASSERT_EQ(reused.source_distance(), fresh.source_distance()) << "round " << round;
        ASSERT_EQ(reused.corridor_count(), fresh.corridor_count()) << "round " << round;
        for (node v = g.G.first_node(); v != g.G.stop_node(); v = g.G.next_node(v)) {
            ASSERT_EQ(reused.potential(g.G, v), fresh.potential(g.G, v)) << "round " << round << " node " << v.index;
        }
        if (fresh.source_distance() == ringgraph::goal_search::kUnreachable) continue;
        std::vector<edge> a, b;
        const bool foundFresh = fresh.run_path(g.G, g.cost, a, ringgraph::goal_search::kUncapped);
        const bool foundReused = reused.run_path(g.G, g.cost, b, ringgraph::goal_search::kUncapped);
        ASSERT_EQ(foundReused, foundFresh) << "round " << round;
        ASSERT_EQ(reused.distance(), fresh.distance()) << "round " << round;
        ASSERT_EQ(reused.settled_count(), fresh.settled_count()) << "round " << round;
        ASSERT_EQ(b, a) << "round " << round;
    }
}
