#include "grid_graph.h"

#include <cassert>

namespace ringtrace {

int64_t gridEdgeCount(int32_t width, int32_t height) {
    return width >= 5 && height >= 7 ? 9 * int64_t{width - 4} * (height - 6) : 0;
}

int64_t terminalEdgeCount(int32_t /*width*/, int32_t height) {
    return height >= 7 ? 2 * int64_t{height - 6} : 0;
}

void buildGrid(pixelGrid& grid, int32_t width, int32_t height) {
    assert(width >= 3 || height < 7);
    grid.width = width;
    grid.height = height;
    const int32_t W = width, H = height;
    ringgraph::graph& G = grid.G;
    G.reserve(static_cast<size_t>(int64_t{W} * H + 2),
              static_cast<size_t>(gridEdgeCount(W, H) + terminalEdgeCount(W, H)));

    grid.A = ringgraph::node_array<int>(G, 1);
    grid.nodess.assign(static_cast<size_t>(int64_t{W} * H + 2), node{});
    for (int32_t k = 0; k < W * H; ++k) grid.nodess[static_cast<size_t>(k)] = G.new_node();
    grid.sourceTerminal = grid.nodess[static_cast<size_t>(W * H)] = G.new_node();
    grid.sinkTerminal = grid.nodess[static_cast<size_t>(W * H + 1)] = G.new_node();

    grid.A.init(G);
    for (int32_t x = 0; x < W; ++x) {
        for (int32_t y = 0; y < H; ++y) grid.A[grid.nodess[static_cast<size_t>(x * H + y)]] = x * H + y;
    }
    grid.A[grid.sourceTerminal] = W * H;
    grid.A[grid.sinkTerminal] = W * H + 1;

    for (int32_t x = 1; x < W - 3; ++x) {
        for (int32_t y = 3; y < H - 3; ++y) {
            const node v = grid.nodess[static_cast<size_t>(x * H + y)];
            for (const gridOffset& o : kGridOffsets) {
                G.new_edge(v, grid.nodess[static_cast<size_t>((x + o.dx) * H + (y + o.dy))]);
            }
        }
    }

    grid.cost = ringgraph::edge_array<int>(G, 1);
    for (int32_t y = 3; y < H - 3; ++y) {
        const edge in = G.new_edge(grid.sourceTerminal, grid.nodess[static_cast<size_t>(1 * H + y)]);
        grid.cost[in] = 1;
        const edge out = G.new_edge(grid.nodess[static_cast<size_t>((W - 3) * H + y)], grid.sinkTerminal);
        grid.cost[out] = 1;
    }
}

}  // namespace ringtrace
