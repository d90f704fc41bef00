// A plain rendering of the contour search, for tests and benchmarks: the oracle the
// program's search must agree with.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "contour_search.h"
#include "explicit_grid.h"
#include "graph/integer.h"
#include "graph/p_queue.h"
#include "image_input.h"

namespace ringtrace::testing {

struct plainOutcome {
    bool ended = false;
    int searchOutcome = 0;
    int64_t iterations = 0;
    int lo = 0, hi = 0, pathCost = 0, rowSum = 0;
    bool closed = false;
    float dispersion = 0, secondaryMean = 0;  // the latest evaluation's, when accepted
    ringgraph::node_array<edge> pred;         // over the program's graph
};

// The search exactly as the algorithm reads: every evaluation one full shortest-path run
// from scratch (`shortestPath(lo, hi)` returns the path's edges walking back from the sink,
// edge ids as the program's graph numbers them), a full copy of its result per record,
// nothing remembered. Returns ended = false when it has not ended within `limit`
// iterations.
template <class ShortestPath>
plainOutcome plainSearchWith(const pixelGrid& program, const uint32_t* primary, const uint32_t* secondary,
                             int64_t limit, ShortestPath shortestPath) {
    using ringgraph::integer;
    struct plainNode {
        std::vector<edge> predecessors;
        bool closed = false;
        int pathCost = 0, rowSum = 0, lo = 0, hi = 0;
    };
    const ringgraph::lattice& G = program.G;
    auto rowOf = [&](int id) { return id % program.height; };
    auto isTerminal = [&](int id) { return id >= program.width * program.height; };
    plainOutcome out;
    float dispersion = 0, secondaryMean = 0;
    auto evaluate = [&](plainNode& r) {
        r.predecessors = shortestPath(r.lo, r.hi);
        auto price = [&](edge e) {
            if (e.index < G.number_of_grid_edges()) return program.cost[e];
            const int y = rowOf(G.source(e) == G.source_terminal() ? G.target(e).index : G.source(e).index);
            return (y > r.hi || y < r.lo) ? BLOCKED_COST : 1;
        };
        uint32_t cost = 0, rows = 0;
        int n = 0, entry = -1, exit = -1;
        float mean = 0, q = 0, smean = 0;
        node v = G.sink_terminal();
        for (const edge e : r.predecessors) {
            v = G.opposite(e, v);
            ++n;
            cost += static_cast<uint32_t>(price(e));
            const int id = v.index;
            if (isTerminal(id)) continue;
            const int y = rowOf(id);
            if (exit < 0) exit = y;
            entry = y;
            rows += static_cast<uint32_t>(y);
            const int32_t i = rasterIndex(id / program.height, y, program.width, program.height);
            const double p = primary[i] & 0xff, s = secondary[i] & 0xff;
            mean = static_cast<float>(mean + (p - mean) / n);
            q = static_cast<float>(q + (p - mean) * (p - mean));
            smean = static_cast<float>(smean + (s - smean) / n);
        }
        dispersion = static_cast<float>(static_cast<float>(q / static_cast<double>(n - 1)) /
                                        static_cast<double>(static_cast<float>(std::sqrt(double{mean}))));
        secondaryMean = smean;
        r.pathCost = static_cast<int>(cost);
        if (exit >= 0 && std::abs(entry - exit) <= 2) r.closed = true;
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
        out.iterations = it + 1;
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
            out.rowSum = current.rowSum;
            out.closed = current.closed;
            out.dispersion = dispersion;
            out.secondaryMean = secondaryMean;
            out.pred = ringgraph::node_array<edge>(G, ringgraph::nil);
            node v = G.sink_terminal();
            for (const edge e : current.predecessors) {
                out.pred[v] = e;
                v = G.opposite(e, v);
            }
            return out;
        }
        QNode.del_item(m);
    }
    return out;
}

// The plain search on the explicitly built graph, with the graph component's own
// shortest-path routine run in full for every evaluation.
inline plainOutcome plainSearch(const pixelGrid& program, const uint32_t* primary, const uint32_t* secondary,
                                int64_t limit) {
    explicitGrid g(program.width, program.height);
    g.copyCosts(program);
    const ringgraph::graph& G = g.G;
    ringgraph::node_array<int> dist(G, 0);
    ringgraph::node_array<edge> pred(G, ringgraph::nil);
    auto rowOf = [&](int id) { return id % program.height; };
    return plainSearchWith(program, primary, secondary, limit, [&](int lo, int hi) {
        for (edge e = G.first_out_edge(g.sourceTerminal); e != G.stop_out_edge(); e = G.next_out_edge(e)) {
            const int y = rowOf(g.A[G.target(e)]);
            g.cost[e] = (y > hi || y < lo) ? BLOCKED_COST : 1;
        }
        for (edge e = G.first_in_edge(g.sinkTerminal); e != G.stop_in_edge(); e = G.next_in_edge(e)) {
            const int y = rowOf(g.A[G.source(e)]);
            g.cost[e] = (y > hi || y < lo) ? BLOCKED_COST : 1;
        }
        ringgraph::DIJKSTRA(G, g.sourceTerminal, g.cost, dist, pred);
        std::vector<edge> path;  // the explicit build numbers edges as the program's graph does
        for (node v = g.sinkTerminal; pred[v] != ringgraph::nil; v = G.opposite(pred[v], v)) path.push_back(pred[v]);
        return path;
    });
}

}  // namespace ringtrace::testing
