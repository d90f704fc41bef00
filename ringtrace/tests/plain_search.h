// A plain rendering of the contour search, for tests and benchmarks: the oracle the
// program's search must agree with.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "contour_search.h"
#include "explicit_grid.h"
#include "graph/integer.h"
#include "graph/p_queue.h"
#include "image_input.h"

namespace ringtrace::testing {

struct plainNode {
    ringgraph::node_array<edge> predecessors;
    bool closed = false;
    int pathCost = 0, rowSum = 0, lo = 0, hi = 0;
};

struct plainOutcome {
    bool ended = false;
    int searchOutcome = 0;
    int64_t iterations = 0;
    int lo = 0, hi = 0, pathCost = 0, rowSum = 0;
    bool closed = false;
    float dispersion = 0, secondaryMean = 0;  // the latest evaluation's, when accepted
    ringgraph::node_array<edge> pred;
};

// The search exactly as the algorithm reads, on the explicitly built graph, with a full
// shortest-path run and a full predecessor copy per evaluation and nothing remembered.
// Returns ended = false when it has not ended within `limit` iterations.
inline plainOutcome plainSearch(const pixelGrid& program, const uint32_t* primary, const uint32_t* secondary,
                                int64_t limit) {
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
            const int32_t r = rasterIndex(id / program.height, y, program.width, program.height);
            const double p = primary[r] & 0xff, s = secondary[r] & 0xff;
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
            out.pred = current.predecessors;
            return out;
        }
        QNode.del_item(m);
    }
    return out;
}

}  // namespace ringtrace::testing
