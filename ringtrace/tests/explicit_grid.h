// The pixel graph built edge by edge through the general graph component, in the fixed
// creation order: the reference the program's computed graph must reproduce exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/dijkstra.h"
#include "graph/edge_array.h"
#include "graph/graph.h"
#include "graph/node_array.h"
#include "grid_graph.h"

namespace ringtrace::testing {

struct explicitGrid {
    ringgraph::graph G;
    std::vector<node> nodess;
    ringgraph::node_array<int> A;
    ringgraph::edge_array<int> cost;
    node sourceTerminal, sinkTerminal;

    explicitGrid(int32_t W, int32_t H) {
        A = ringgraph::node_array<int>(G, 1);
        nodess.assign(static_cast<size_t>(W * H + 2), node{});
        for (int32_t k = 0; k < W * H; ++k) nodess[static_cast<size_t>(k)] = G.new_node();
        sourceTerminal = nodess[static_cast<size_t>(W * H)] = G.new_node();
        sinkTerminal = nodess[static_cast<size_t>(W * H + 1)] = G.new_node();
        A.init(G);
        for (int32_t x = 0; x < W; ++x) {
            for (int32_t y = 0; y < H; ++y) A[nodess[static_cast<size_t>(x * H + y)]] = x * H + y;
        }
        A[sourceTerminal] = W * H;
        A[sinkTerminal] = W * H + 1;
        for (int32_t x = 1; x < W - 3; ++x) {
            for (int32_t y = 3; y < H - 3; ++y) {
                for (const gridOffset& o : kGridOffsets) {
                    G.new_edge(nodess[static_cast<size_t>(x * H + y)], nodess[static_cast<size_t>((x + o.dx) * H + y + o.dy)]);
                }
            }
        }
        cost = ringgraph::edge_array<int>(G, 1);
        for (int32_t y = 3; y < H - 3; ++y) {
            cost[G.new_edge(sourceTerminal, nodess[static_cast<size_t>(1 * H + y)])] = 1;
            cost[G.new_edge(nodess[static_cast<size_t>((W - 3) * H + y)], sinkTerminal)] = 1;
        }
    }

    // Takes over the costs of the program's graph, edge id by edge id.
    void copyCosts(const pixelGrid& g) {
        for (edge e = G.first_edge(); e != G.stop_edge(); e = G.next_edge(e)) cost[e] = g.cost[e];
    }
};

}  // namespace ringtrace::testing
