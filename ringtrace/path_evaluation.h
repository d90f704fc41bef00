// Evaluating one interval [lo, hi] of admitted entry/exit rows: gate the terminal edges,
// run one shortest-path search from the source terminal, walk the path back from the sink
// terminal and measure it.
#pragma once

#include <cstdint>

#include "branch_node.h"
#include "graph/lattice_dijkstra.h"
#include "grid_graph.h"

namespace ringtrace {

inline constexpr int BLOCKED_COST = 100000000;
inline constexpr int CLOSURE_TOLERANCE = 2;

struct evaluationStats {
    float dispersion = 0.0f;
    float secondaryMean = 0.0f;
};

class pathEvaluator {
public:
    // `pred` receives each run's predecessor edges (final along the sink's path).
    pathEvaluator(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                  ringgraph::node_array<edge>& pred);

    // Fills `record` (constructed by the caller for [lo, hi]) with the cheapest gated path:
    // pathCost and rowSum (32-bit, wrapping), closed (entry and exit rows at most 2 apart;
    // otherwise left as constructed), the path itself; returns the path's statistics.
    //
    // When the sink cannot be reached at all (no terminal edges, or a grid that does not
    // join column 1 to column width - 3), the walk is empty: pathCost 0, rowSum 0, closed
    // left as constructed, an empty path, dispersion NaN and secondaryMean 0. Such a record
    // can be queued but never accepted.
    evaluationStats evaluateInterval(int32_t lo, int32_t hi, branchNode& record);

    int64_t shortestPathRuns() const { return runs_; }

private:
    void gate(int32_t lo, int32_t hi);

    pixelGrid& grid_;
    const uint32_t* primary_;
    const uint32_t* secondary_;
    ringgraph::node_array<edge>& pred_;
    ringgraph::lattice_dijkstra engine_;
    int64_t runs_ = 0;
};

}  // namespace ringtrace
