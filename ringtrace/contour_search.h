// Best-first branch and bound over intervals of admitted entry/exit rows.
//
// Starting from all rows, the cheapest queued interval is split at its middle row into a
// high half [mid, hi] and a low half [lo, mid]; both are evaluated and queued by path cost.
// The search ends when the interval taken from the queue passes the acceptance test, or
// when the queue is found empty.
//
// Termination: left alone, the search can run forever (a narrow interval splits into
// itself, and some inputs never accept anything), so it stops after `maxIterations(height)`
// iterations, reporting nothing accepted. The bound lies far beyond any run that ends by
// itself in practice, and evaluations are remembered per interval (an evaluation is a pure
// function of the interval while the grid costs stay fixed), so a run costs at most one
// shortest-path search per distinct interval, plus one to finish it if it was given up.
//
// Work saved without changing any result:
//   - A child whose interval holds both the entry and the exit row of its parent's path
//     gets the parent's path, record and statistics without a run: the child's costs are
//     the parent's except for more blocked terminal edges, none of them on that path.
//   - A wide child's run is given up once its path is known to cost more than its parent's
//     plus 1 %; the child is queued under that lower bound and finished only when its exact
//     evaluation is read: when it reaches the top of the queue, or when it is the low child
//     whose statistics an acceptance test reads. The queue keeps the order of exact keys
//     (least cost first, then first inserted), so every iteration takes the same node.
#pragma once

#include <cstdint>
#include <functional>

#include "branch_node.h"
#include "path_evaluation.h"

namespace ringtrace {

inline constexpr int ROOT_PRIORITY = 1000000;
inline constexpr int32_t ROOT_PATH_COST = 10000000;
inline constexpr int32_t ROOT_ROW_SUM = 100000;
inline constexpr int32_t ROW_SUM_BOUND = 100000000;
inline constexpr float DISPERSION_LIMIT = 50000000.0f;
inline constexpr int SEARCH_ACCEPTED = 1;
inline constexpr int SEARCH_EXHAUSTED = 10;

// Iteration bound of a search over an image `height` rows tall.
int64_t maxIterations(int32_t height);

struct searchResult {
    int searchOutcome = SEARCH_ACCEPTED;
    branchNode accepted;             // valid when searchOutcome is SEARCH_ACCEPTED
    evaluationStats latest;          // with it: the statistics its acceptance test read
    evaluationStats acceptedStats;   // the accepted interval's own evaluation statistics
    int64_t iterations = 0;
    int64_t evaluations = 0;         // evaluateInterval calls the search made
    int64_t shortestPathRuns = 0;    // shortest-path runs made (given-up runs and restarts included)
    bool cutShort = false;           // ended by the iteration bound
    int64_t nodesSettled = 0;        // by those runs and by the runs that worked out their potential
    int64_t reusedPaths = 0;         // evaluations answered with the parent's path, no run
    int64_t finishedLater = 0;       // evaluations given up at first and finished when read
};

// What the search is doing, for a progress display.
struct searchProgress {
    int64_t iterations = 0;
    int64_t shortestPathRuns = 0;
    bool haveBest = false;  // something is queued
    int32_t bestLo = 0, bestHi = 0;
    int64_t bestCost = 0;
};
using progressCallback = std::function<void(const searchProgress&)>;

// Runs the search. On acceptance `pred` holds the accepted path's predecessor edges (the
// walk back from the sink terminal follows exactly that path). `progress`, when set, is
// called once per iteration.
searchResult searchContour(pathEvaluator& evaluator, const pixelGrid& grid,
                           ringgraph::node_array<edge>& pred, int64_t iterationLimit,
                           const progressCallback& progress = nullptr);
// The same search leaving no predecessor array: the accepted path is the accepted record's.
searchResult searchContour(pathEvaluator& evaluator, const pixelGrid& grid, int64_t iterationLimit,
                           const progressCallback& progress = nullptr);

// Writes a record's path into a predecessor array so that the walk back from the sink
// terminal follows it.
void restorePredecessors(const branchNode& record, const pixelGrid& grid, ringgraph::node_array<edge>& pred);

}  // namespace ringtrace
