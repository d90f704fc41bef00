// Shortest paths from the source terminal of a lattice, stopping once a target is settled.
//
// Same tie-break as the general routine (cheapest, then fewest edges, then each node's
// earliest-created predecessor edge), so it reports exactly the same tree; only the
// machinery differs. Nodes are ordered by one 64-bit key, (distance << 27) | edge count.
// Grid edges cost at most a few thousand, so the queue is a ring of buckets, one per
// distance (Dial's method): a node is filed in O(1) and the next distance is found by
// stepping forward. Within one distance the edge-count order matters only when an edge
// costs 0 (only then can a node of the bucket improve another of the same bucket), so
// only then is the bucket being worked on kept as a small heap. Costs beyond the ring (blocked terminal edges) wait in
// an overflow list until the ring reaches them. A generation stamp per node makes a new
// run free of any per-node reset.
#pragma once

#include <cstdint>
#include <vector>

#include "large_allocator.h"
#include "lattice.h"
#include "node_array.h"

namespace ringgraph {

class lattice_dijkstra {
public:
    // Runs from the source terminal. pred[v] is final for every node settled by the run, in
    // particular along the target's path, and pred[source] is nil; entries of nodes the run
    // did not settle are left over from earlier runs and must not be read.
    void run(const lattice& L, const lattice_costs& cost, node_array<edge>& pred, node target);

    // Path length of a node settled by the last run, or -1.
    int64_t distance(node v) const;
    int64_t settledCount() const { return settled_; }

    // Largest image the key packing allows (edge counts must stay below 2^27).
    static constexpr int64_t kMaxNodes = (int64_t{1} << 27) - 1;

private:
    struct entry {
        uint64_t key;
        int32_t v;
    };
    static constexpr int64_t kRing = 4096;  // more than any grid edge costs
    void push(uint64_t key, int32_t v);
    bool pop(entry& out);  // false when the queue is empty
    void admitOverflow();

    large_vector<uint64_t> key_;   // written before it is read (guarded by the stamp)
    large_vector<uint32_t> stamp_;  // 2*gen: reached in this run, 2*gen+1: settled
    uint32_t gen_ = 0;
    std::vector<entry> ring_[kRing];
    std::vector<entry> overflow_;
    uint64_t overflowLeast_ = 0;  // least distance waiting in the overflow list
    uint64_t current_ = 0;        // distance being worked on
    bool ordered_ = false;        // some edge costs 0: buckets are worked in key order
    bool heapified_ = false;      // the current bucket is a heap
    int64_t inRing_ = 0;
    int64_t settled_ = 0;
};

}  // namespace ringgraph
