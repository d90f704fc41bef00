// Single-source shortest paths over non-negative integer edge costs.
//
// Tie-break, so that the reported tree is a pure function of the graph and the costs and
// not of the queue's inner order: among the paths to a node, the cheapest win; among those,
// the ones with the fewest edges; and the node's predecessor is the earliest-created edge
// that ends such a path. Searching on the key (distance, edge count) makes every candidate
// predecessor settle before the node itself, so the rule costs one comparison per
// relaxation. Any queue that settles nodes in key order gives the same tree.
#pragma once

#include <cstdint>
#include <vector>

#include "edge_array.h"
#include "graph.h"
#include "node_array.h"

namespace ringgraph {

// Reusable working storage for repeated runs over graphs of the same size: after the first
// run nothing is allocated.
class dijkstra_engine {
public:
    // Runs from `s`. Afterwards pred[v] is the last edge of the chosen cheapest path to v,
    // nil for `s` and for nodes not reached. With a `target` the run stops as soon as the
    // target is settled: pred is then final for every node on the target's path (and every
    // other settled node) and the walk back from the target is exactly the one a full run
    // gives. `dist`, when given, receives path lengths of settled nodes (saturated to the
    // int range; others are left unchanged).
    void run(const graph& G, node s, const edge_array<int>& cost, node_array<edge>& pred,
             node target = nil, node_array<int>* dist = nullptr);

    // Settled path length of v in the last run (-1 when not settled).
    int64_t distance(node v) const;
    int32_t settledCount() const { return settled_; }

private:
    struct key {
        int64_t dist;
        int32_t hops;
    };
    static bool less(const key& a, const key& b) {
        return a.dist < b.dist || (a.dist == b.dist && a.hops < b.hops);
    }
    void push(int32_t v);
    void siftUp(int32_t pos);
    int32_t popMin();

    std::vector<key> key_;
    std::vector<int32_t> pos_;  // heap slot; kUnseen or kSettled otherwise
    std::vector<int32_t> heap_;
    int32_t settled_ = 0;
};

// Full run from `s` with a fresh workspace.
void DIJKSTRA(const graph& G, node s, const edge_array<int>& cost, node_array<int>& dist,
              node_array<edge>& pred);

}  // namespace ringgraph
