// Node ids, edge order and terminal edges of the pixel grid.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "explicit_grid.h"
#include "graph/large_allocator.h"
#include "grid_graph.h"
#include "image_input.h"

using namespace ringtrace;

namespace {
std::vector<std::pair<int, int>> edgeIds(const pixelGrid& g) {
    std::vector<std::pair<int, int>> out;
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
        out.emplace_back(g.A[g.G.source(e)], g.A[g.G.target(e)]);
    }
    return out;
}
}  // namespace

TEST(GridGraph, FiveBySevenHasElevenEdgesInOrder) {
    pixelGrid g;
    buildGrid(g, 5, 7);
    EXPECT_EQ(g.G.number_of_nodes(), 37);
    const std::vector<std::pair<int, int>> expected = {{10, 11}, {10, 9},  {10, 18}, {10, 17},
                                                       {10, 16}, {10, 4},  {10, 2},  {10, 23},
                                                       {10, 25}, {35, 10}, {17, 36}};
    EXPECT_EQ(edgeIds(g), expected);
    EXPECT_EQ(g.A[g.sourceTerminal], 35);
    EXPECT_EQ(g.A[g.sinkTerminal], 36);
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) EXPECT_EQ(g.cost[e], 1);
    EXPECT_EQ(rasterIndex(1, 3, 5, 7), 16);
}

TEST(GridGraph, SmallShapesGetOnlyWhatFits) {
    for (int H = 1; H < 7; ++H) {
        pixelGrid g;
        buildGrid(g, 9, H);
        EXPECT_EQ(g.G.number_of_edges(), 0) << "height " << H;
        EXPECT_EQ(g.G.number_of_nodes(), 9 * H + 2);
    }
    for (int W : {3, 4}) {
        pixelGrid g;
        buildGrid(g, W, 9);
        // Terminal edges only, one pair per row 3..5, interleaved.
        const auto ids = edgeIds(g);
        ASSERT_EQ(ids.size(), 6u);
        const int src = W * 9, sink = W * 9 + 1;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(ids[static_cast<size_t>(2 * k)], std::make_pair(src, 1 * 9 + 3 + k));
            EXPECT_EQ(ids[static_cast<size_t>(2 * k + 1)], std::make_pair((W - 3) * 9 + 3 + k, sink));
        }
    }
}

TEST(GridGraph, IdsRoundTripAndCountsMatch) {
    pixelGrid g;
    buildGrid(g, 11, 13);
    ASSERT_EQ(g.nodess.size(), 11u * 13u + 2u);
    for (node v = g.G.first_node(); v != g.G.stop_node(); v = g.G.next_node(v)) {
        EXPECT_EQ(g.nodess[static_cast<size_t>(g.A[v])], v);
    }
    EXPECT_EQ(g.G.number_of_edges(), gridEdgeCount(11, 13) + terminalEdgeCount(11, 13));
    EXPECT_EQ(gridEdgeCount(11, 13), 9 * 7 * 7);
    // Terminal edges feed column 1 and drain column width - 3, in ascending rows.
    int row = 3;
    for (edge e = g.G.first_out_edge(g.sourceTerminal); e != g.G.stop_out_edge(); e = g.G.next_out_edge(e), ++row) {
        EXPECT_EQ(g.A[g.G.target(e)], 1 * 13 + row);
    }
    EXPECT_EQ(row, 13 - 3);
    row = 3;
    for (edge e = g.G.first_in_edge(g.sinkTerminal); e != g.G.stop_in_edge(); e = g.G.next_in_edge(e), ++row) {
        EXPECT_EQ(g.A[g.G.source(e)], 8 * 13 + row);
        // The exit column's only way out is its sink edge.
        EXPECT_EQ(g.G.first_out_edge(g.G.source(e)), e);
        EXPECT_EQ(g.G.next_out_edge(e), ringgraph::nil);
    }
}

TEST(GridGraph, RasterIndexRunsBottomUp) {
    EXPECT_EQ(rasterIndex(1, 0, 4, 3), 9);
    EXPECT_EQ(rasterIndex(0, 2, 4, 3), 0);
    EXPECT_EQ(rasterIndex(0, 0, 7, 5), 4 * 7);
}


TEST(GridGraph, ComputedGraphMatchesTheExplicitBuildEdgeForEdge) {
    for (auto [W, H] : {std::pair{5, 7}, std::pair{4, 9}, std::pair{3, 8}, std::pair{9, 6}, std::pair{12, 11},
                        std::pair{6, 14}, std::pair{1, 1}}) {
        pixelGrid g;
        buildGrid(g, W, H);
        ringtrace::testing::explicitGrid ref(W, H);
        ASSERT_EQ(g.G.number_of_nodes(), ref.G.number_of_nodes());
        ASSERT_EQ(g.G.number_of_edges(), ref.G.number_of_edges()) << W << "x" << H;
        for (edge e = ref.G.first_edge(); e != ref.G.stop_edge(); e = ref.G.next_edge(e)) {
            ASSERT_EQ(g.G.source(e), ref.G.source(e)) << W << "x" << H << " edge " << e.index;
            ASSERT_EQ(g.G.target(e), ref.G.target(e)) << W << "x" << H << " edge " << e.index;
            EXPECT_EQ(g.G.opposite(e, ref.G.source(e)), ref.G.target(e));
        }
        for (node v = ref.G.first_node(); v != ref.G.stop_node(); v = ref.G.next_node(v)) {
            std::vector<int> out, refOut, in, refIn;
            for (edge e = g.G.first_out_edge(v); e != g.G.stop_out_edge(); e = g.G.next_out_edge(e)) out.push_back(e.index);
            for (edge e = ref.G.first_out_edge(v); e != ref.G.stop_out_edge(); e = ref.G.next_out_edge(e)) refOut.push_back(e.index);
            for (edge e = g.G.first_in_edge(v); e != g.G.stop_in_edge(); e = g.G.next_in_edge(e)) in.push_back(e.index);
            for (edge e = ref.G.first_in_edge(v); e != ref.G.stop_in_edge(); e = ref.G.next_in_edge(e)) refIn.push_back(e.index);
            ASSERT_EQ(out, refOut) << W << "x" << H << " node " << v.index;
            ASSERT_EQ(in, refIn) << W << "x" << H << " node " << v.index;
        }
    }
}

TEST(GridGraph, CostsHoldTheirDefaultUntilWrittenAndKeepEveryGridValue) {
    pixelGrid g;
    buildGrid(g, 8, 9);
    const edge grid{5}, terminal{g.G.number_of_grid_edges() + 1};
    EXPECT_EQ(g.cost[grid], 1);
    EXPECT_EQ(g.cost[terminal], 1);
    g.cost[grid] = 2001;
    g.cost[terminal] = 100000000;
    EXPECT_EQ(g.cost[grid], 2001);
    EXPECT_EQ(g.cost[edge{6}], 1);
    EXPECT_EQ(g.cost[terminal], 100000000);
}

TEST(GridGraph, TheCostsSpareTailHasOneHolderAndNeverTouchesACost) {
    // 200 x 100 pixels make a cost block of whole huge pages with room left at its end.
    pixelGrid g;
    buildGrid(g, 200, 100);
    uint16_t* costs = g.cost.grid_data();
    const auto count = static_cast<size_t>(g.G.number_of_grid_edges());
    for (size_t i = 0; i < count; ++i) costs[i] = static_cast<uint16_t>(i % 2002);
    const size_t bytes = count * sizeof(uint16_t);
    const size_t room = ringgraph::mapped_size(bytes) - bytes;
    ASSERT_GT(room, size_t{4096});
    EXPECT_EQ(g.cost.claim_spare(room), nullptr);  // more than the tail holds
    std::byte* held = g.cost.claim_spare(4096);
    ASSERT_NE(held, nullptr);
    EXPECT_GE(held, reinterpret_cast<std::byte*>(costs + count));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(held) % 64, 0u);  // holders store vectors there
    EXPECT_EQ(g.cost.claim_spare(16), nullptr);              // one holder at a time
    // Everything from the holder's start to the block's end is the holder's.
    std::memset(held, 0xff, static_cast<size_t>(reinterpret_cast<std::byte*>(costs) + bytes + room - held));
    g.cost.release_spare(nullptr);       // not the holder: changes nothing
    EXPECT_EQ(g.cost.claim_spare(16), nullptr);
    g.cost.release_spare(held);
    EXPECT_EQ(g.cost.claim_spare(16), held);
    g.cost.release_spare(held);
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(g.cost.get(edge{static_cast<int32_t>(i)}), static_cast<int>(i % 2002));

    // Whatever the count of costs, odd ones included, the tail starts on a cache line.
    for (const auto& [w, h] : {std::pair{201, 101}, std::pair{203, 99}, std::pair{257, 131}}) {
        pixelGrid other;
        buildGrid(other, w, h);
        const uint16_t* first = other.cost.grid_data();
        const std::byte* tail = other.cost.claim_spare(64);
        ASSERT_NE(tail, nullptr) << w << "x" << h;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(tail) % 64, 0u) << w << "x" << h;
        EXPECT_GE(tail, reinterpret_cast<const std::byte*>(first + other.G.number_of_grid_edges()) + 64);
    }

    // Small cost tables come from the heap, as asked for, with nothing to spare.
    pixelGrid small;
    buildGrid(small, 12, 10);
    (void)small.cost.grid_data();
    EXPECT_EQ(small.cost.claim_spare(1), nullptr);
}
