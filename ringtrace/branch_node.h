// The search-tree record: one evaluated interval of admitted entry/exit rows.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "graph/handles.h"

namespace ringtrace {

// The path an evaluation found, as the predecessor edges met walking back from the sink
// terminal: edge 0 enters the sink, the last one leaves the source terminal. That walk is
// all anybody reads of an evaluation's shortest-path tree, so a record keeps only this
// (a few bytes per path node instead of one entry per pixel). Paths are immutable once
// made, so copies of a record share one.
using predecessorPath = std::shared_ptr<const std::vector<ringgraph::edge>>;

struct branchNode {
    predecessorPath predecessors;
    bool closed = false;
    int32_t pathCost = 0;
    int32_t rowSum = 0;
    int32_t lo = 0;
    int32_t hi = 0;

    branchNode() = default;
    branchNode(int32_t lo_, int32_t hi_, int32_t pathCost_, int closed_)
        : closed(closed_ != 0), pathCost(pathCost_), lo(lo_), hi(hi_) {}
};

}  // namespace ringtrace
