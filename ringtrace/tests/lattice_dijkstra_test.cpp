// The grid shortest-path routine against the general one on the same graph and costs.
#include <gtest/gtest.h>

#include <random>

#include "explicit_grid.h"
#include "graph/lattice_dijkstra.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

TEST(LatticeDijkstra, ReportsTheSameTreeAsTheGeneralRoutine) {
    std::mt19937 rng(31337);
    for (int round = 0; round < 80; ++round) {
        const int W = 4 + static_cast<int>(rng() % 20), H = 7 + static_cast<int>(rng() % 20);
        pixelGrid g;
        buildGrid(g, W, H);
        // Small cost ranges make many equal paths; zeros make zero-cost cycles (and make the
        // queue keep edge-count order within a distance); half the rounds have no zero.
        const int range = round % 4 == 0 ? 1 : round % 4 == 1 ? 3 : 2002;
        const int least = round % 2 == 0 ? 0 : 1;
        for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
            const bool terminal = e.index >= g.G.number_of_grid_edges();
            g.cost[e] = terminal ? ((rng() % 3 == 0) ? 100000000 : 1)
                                 : least + static_cast<int>(rng() % static_cast<unsigned>(range));
        }
        if (least == 1) {
            EXPECT_FALSE(g.cost.has_zero()) << "round " << round;
        } else if (range == 1 && g.G.number_of_grid_edges() > 0) {
            EXPECT_TRUE(g.cost.has_zero()) << "round " << round;
        }
        explicitGrid ref(W, H);
        ref.copyCosts(g);
        ringgraph::node_array<int> dist;
        ringgraph::node_array<edge> full;
        ringgraph::DIJKSTRA(ref.G, ref.sourceTerminal, ref.cost, dist, full);

        ringgraph::lattice_dijkstra engine;
        ringgraph::node_array<edge> pred(g.G, ringgraph::nil);
        for (const node target : {g.sinkTerminal, node{-1}}) {
            engine.run(g.G, g.cost, pred, target);
            for (node v = g.G.first_node(); v != g.G.stop_node(); v = g.G.next_node(v)) {
                if (engine.distance(v) < 0) continue;  // not settled by an early stop
                ASSERT_EQ(pred[v], full[v]) << "round " << round << " node " << v.index;
                ASSERT_EQ(engine.distance(v), dist[v]);
            }
            // The sink's path is complete even when the run stopped at the sink.
            for (node v = g.sinkTerminal; full[v] != ringgraph::nil; v = ref.G.source(full[v])) {
                ASSERT_EQ(pred[v], full[v]) << "round " << round;
            }
        }
    }
}
