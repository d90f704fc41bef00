// Goal-directed shortest paths from the source terminal of a lattice to its sink terminal,
// for many runs over the same grid costs that differ only in their terminal-edge costs,
// each terminal edge costing at least 1.
//
// The potential. h(u) is a lower bound on the distance from u to the sink under any such
// terminal costs, consistent on every edge (h(u) <= cost(u, v) + h(v)). It comes from one
// backward run over the reversed edges with every terminal edge at 1, kept to a corridor:
//   - p(u), a lower bound on the distance from the source to u, is taken per column: the
//     shortest path over a graph of columns whose edge c -> c + dx costs the least grid
//     edge of that move out of column c (p(column 1) = 1, the least source edge);
//   - the backward run is keyed d(u) + p(u) and stops once the least key passes
//     R = the source's distance + 2 % of it;
//   - h(u) = d(u) where the backward run settled u, max(R - p(u), 0) elsewhere.
// Consistency holds whichever of an edge's ends the run settled, and every forward
// distance is at least p, so nodes outside the corridor have g + h >= R.
//
// The forward run settles nodes in the order of (g + h, edge count). A consistent h keeps
// every tight predecessor of a node ahead of the node, so the tie-break is the one of every
// other shortest-path routine of the component: cheapest, then fewest edges, then each
// node's earliest-created predecessor edge; the path to the sink is exactly theirs. A run
// may be capped: it then stops as soon as the least g + h in its queue passes the cap,
// which is a lower bound on the sink's distance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "large_allocator.h"
#include "lattice.h"
#include "node_array.h"
#include "radix_heap.h"

namespace ringgraph {

class goal_search {
public:
    static constexpr int64_t kUncapped = INT64_MAX;
    static constexpr int64_t kUnreachable = -1;
    // Largest image the key packing allows (edge counts must stay below 2^27).
    static constexpr int64_t kMaxNodes = (int64_t{1} << 27) - 1;

    // The corridor's margin over the source's distance, in thousandths.
    void set_corridor(int64_t perMille) { corridorPerMille_ = perMille; }

    // Called now and then during the long loops (once per column of the bounds pass, every
    // 65536 nodes settled by a run); it may throw to abandon the work, after which the engine
    // is prepared again before its next run. Empty: nothing is called.
    void set_interrupt(std::function<void()> poll) { poll_ = std::move(poll); }

    // Drops the potential, so that the next prepared_for() is false.
    void forget() { preparedFor_ = nullptr; }
    // Works out the potential for the grid costs as they are now.
    void prepare(const lattice& L, const lattice_costs& cost);
    // Whether `prepare` saw these costs (the cost table counts its grid-cost changes).
    bool prepared_for(const lattice& L, const lattice_costs& cost) const {
        return preparedFor_ == &cost && preparedVersion_ == cost.grid_version() &&
               preparedNodes_ == L.number_of_nodes();
    }

    // Distance from the source to the sink with every terminal edge at 1: kUnreachable when
    // no path exists; at least `bound_for_source()` (and not known exactly) when it lies
    // beyond the distances the potential keeps.
    int64_t source_distance() const { return sourceDistance_; }
    bool source_distance_known() const { return sourceKnown_; }

    // Forward run from the source terminal. Returns true when the sink was settled: pred is
    // then final along the sink's path (entries of nodes the run did not settle must not be
    // read) and distance() is the sink's distance. Returns false when the run stopped at
    // the cap: distance() is then a lower bound on the sink's distance, above `cap`. The
    // sink must be reachable (source_distance() != kUnreachable).
    bool run(const lattice& L, const lattice_costs& cost, node_array<edge>& pred, int64_t cap);
    // The same run without a predecessor array: when the sink is settled, `path` receives
    // the edges of the sink's path from the sink back to the source, exactly the ones `pred`
    // would hold along it. They are worked out from the settled keys alone (of a settled
    // node's in-edges from nodes settled in this run, the tight ones are exactly those its
    // relaxations kept, and the earliest-created of them is the one `pred` keeps), so the
    // run writes nothing per node beyond its own state.
    bool run_path(const lattice& L, const lattice_costs& cost, std::vector<edge>& path, int64_t cap);
    int64_t distance() const { return distance_; }

    // h(v) for the prepared costs.
    int64_t potential(const lattice& L, node v) const;

    int64_t settled_count() const { return settled_; }          // by the last forward run
    int64_t corridor_count() const { return corridorSettled_; }  // by the backward run

private:
    void newRun(size_t n);
    void columnBounds(const lattice& L, const lattice_costs& cost);
    void backward(const lattice& L, const lattice_costs& cost);
    template <bool WritePred>
    bool forward(const lattice& L, const lattice_costs& cost, edge* pred, int64_t cap);
    void tracePath(const lattice& L, const lattice_costs& cost, std::vector<edge>& path) const;
    void keepCorridor(int32_t W, int32_t H);
    // d(v) + 1 where the backward run settled v, 0 elsewhere; v in column `column`, at row
    // v - column * H for a grid node.
    uint32_t insideAt(int32_t v, int32_t column, int32_t H) const {
        const corridorColumn& c = corridor_[static_cast<size_t>(column)];
        const auto i = static_cast<uint32_t>(v - column * H - c.first);
        return i < c.rows ? inside_[c.start + i] : 0;
    }
    uint64_t potentialAt(int32_t v, int32_t column, int32_t H) const {
        const uint32_t in = insideAt(v, column, H);
        return in != 0 ? uint64_t{in} - 1 : static_cast<uint64_t>(outside_[static_cast<size_t>(column)]);
    }

    // Per node, the work storage shared by the backward and the forward runs, 12 bytes (a
    // visit reads the key beside the stamp, so they share a line; unaligned 8-byte loads
    // cost nothing extra). A generation stamp makes a new run free of any per-node reset.
    struct __attribute__((packed, aligned(4))) nodeState {
        uint64_t key;
        uint32_t stamp;  // 2*gen: reached in this run, 2*gen+1: settled
    };
    static_assert(sizeof(nodeState) == 12);
    // Fresh pages read as zero, so nothing is cleared by hand. Populated up front where that
    // was measured to pay (see prepare()); elsewhere only the pages of the nodes the runs
    // reach are ever touched.
    sparse_vector<nodeState> state_;
    uint32_t gen_ = 0;
    radix_heap heap_;

    // The potential inside the corridor, which is a small share of the nodes: per column
    // (terminals at width and width + 1, at row 0) the rows from `first` that hold the
    // nodes the backward run settled there, d + 1 for each (0 for the unsettled ones
    // between), at inside_[start ..].
    struct corridorColumn {
        int32_t first;
        uint32_t rows;
        uint32_t start;
    };
    std::vector<corridorColumn> corridor_;
    large_vector<uint32_t> inside_;
    // Every node the backward run settled (its key less p is its d).
    std::vector<int32_t, populated_allocator<int32_t>> settledOrder_;

    // The potential outside the corridor: per column (and, at width and width + 1, for the
    // two terminals) p and max(R - p, 0).
    std::vector<int64_t> columnBound_;
    std::vector<int64_t> outside_;
    int64_t sourceDistance_ = kUnreachable;
    bool sourceKnown_ = false;
    int64_t corridorPerMille_ = 1020;
    const lattice_costs* preparedFor_ = nullptr;
    uint64_t preparedVersion_ = 0;
    int preparedNodes_ = -1;

    int64_t distance_ = 0;
    std::function<void()> poll_;
    int64_t settled_ = 0;
    int64_t corridorSettled_ = 0;
};

}  // namespace ringgraph
