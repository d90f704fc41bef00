// Evaluating one interval [lo, hi] of admitted entry/exit rows: gate the terminal edges,
// run one shortest-path search from the source terminal, walk the path back from the sink
// terminal and measure it.
//
// The runs are goal-directed (graph/goal_search.h): a potential worked out once from the
// grid costs (again whenever they change) steers every run towards the sink, and a run may
// be given up once the path is known to cost more than a cap. The path found is exactly
// the one a plain shortest-path run reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "branch_node.h"
#include "graph/goal_search.h"
#include "graph/large_allocator.h"
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
    // `pred` receives each run's predecessor edges (final along the sink's path). The walk
    // needs only the red components of the two rasters: they are copied out here, and the
    // rasters may be released once the evaluator exists.
    pathEvaluator(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                  ringgraph::node_array<edge>& pred);
    // Without a predecessor array: each run hands over its path alone, and no array of a
    // node's size is written per run (the records carry the paths).
    pathEvaluator(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster);
    ~pathEvaluator();
    pathEvaluator(const pathEvaluator&) = delete;
    pathEvaluator& operator=(const pathEvaluator&) = delete;

    // Fills `record` (constructed by the caller for [lo, hi]) with the cheapest gated path:
    // pathCost and rowSum (32-bit, wrapping), closed (entry and exit rows at most 2 apart;
    // otherwise left as constructed), the path itself; returns the path's statistics.
    //
    // When the sink cannot be reached at all (no terminal edges, or a grid that does not
    // join column 1 to column width - 3), the walk is empty: pathCost 0, rowSum 0, closed
    // left as constructed, an empty path, dispersion NaN and secondaryMean 0. Such a record
    // can be queued but never accepted.
    evaluationStats evaluateInterval(int32_t lo, int32_t hi, branchNode& record);

    // The same evaluation, given up once the path is known to cost more than `cap`. Returns
    // true with `record` and `stats` filled as evaluateInterval fills them and `cost` the
    // path's exact cost; returns false with `record` and `stats` untouched and `cost` a
    // lower bound on the path's cost, above `cap`. (A record whose path cannot exist at all
    // counts as found, at cost 0.)
    bool evaluateWithin(int32_t lo, int32_t hi, int64_t cap, branchNode& record, evaluationStats& stats,
                        int64_t& cost);

    // Cost of the cheapest path with every terminal edge open, which is what an interval
    // holding every row evaluates to: -1 when the sink cannot be reached; false when it is
    // too large for the potential to have kept it exactly.
    bool openPathCost(int64_t& cost);

    // Margin of the potential's corridor over the cheapest open path, in thousandths (1020:
    // 2 %). Changes only how much each run settles, never a result.
    void setCorridor(int64_t perMille);

    // Called now and then inside long shortest-path work; may throw to abandon the trace.
    void setInterrupt(std::function<void()> poll) { engine_.set_interrupt(std::move(poll)); }

    int64_t shortestPathRuns() const { return runs_; }
    int64_t nodesSettled() const { return settled_; }       // by all the runs
    int64_t potentialNodes() const { return potential_; }   // settled working out the potentials

private:
    void gate(int32_t lo, int32_t hi);
    void preparePotential();
    evaluationStats walk(std::shared_ptr<std::vector<edge>> path, branchNode& record);

    pixelGrid& grid_;
    // Red components by raster index, primary and secondary side by side (2 bytes a pixel
    // instead of the rasters' 8): in the tail of the costs' block when it is free and large
    // enough (pages the run has already), in an array of their own otherwise.
    ringgraph::overwrite_vector<uint8_t> ownRed_;
    std::byte* heldRed_ = nullptr;
    const uint8_t* red_ = nullptr;
    ringgraph::node_array<edge>* pred_ = nullptr;
    ringgraph::goal_search engine_;
    int64_t runs_ = 0;
    int64_t settled_ = 0;
    int64_t potential_ = 0;
};

}  // namespace ringtrace
