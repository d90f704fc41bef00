// A directed graph with index handles and contiguous, append-only storage.
//
// Nodes and edges live in flat arrays (no allocation per node or edge). Every node keeps
// its out-edges and in-edges as singly linked lists threaded through per-edge arrays, in
// creation order; edges created one after another out of the same node are therefore
// adjacent in memory, which is what the shortest-path relaxation walks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "handles.h"

namespace ringgraph {

class graph : public sequential_ids<graph> {
public:
    graph() = default;
    graph(const graph&) = delete;
    graph& operator=(const graph&) = delete;

    // Reserves storage for the given counts so that a build of known size never reallocates.
    void reserve(std::size_t nodes, std::size_t edges);

    node new_node();
    edge new_edge(node v, node w);

    int number_of_nodes() const { return static_cast<int>(firstOut_.size()); }
    int number_of_edges() const { return static_cast<int>(source_.size()); }

    node source(edge e) const { return node{source_[static_cast<std::size_t>(e.index)]}; }
    node target(edge e) const { return node{target_[static_cast<std::size_t>(e.index)]}; }
    // The end of `e` that is not `v` (for a self-loop, `v` itself).
    node opposite(edge e, node v) const {
        const int32_t s = source_[static_cast<std::size_t>(e.index)];
        return node{s == v.index ? target_[static_cast<std::size_t>(e.index)] : s};
    }

    // Out-edges and in-edges of a node, each in creation order.
    edge first_out_edge(node v) const { return edge{firstOut_[static_cast<std::size_t>(v.index)]}; }
    edge next_out_edge(edge e) const { return edge{nextOut_[static_cast<std::size_t>(e.index)]}; }
    edge stop_out_edge() const { return nil; }
    edge first_in_edge(node v) const { return edge{firstIn_[static_cast<std::size_t>(v.index)]}; }
    edge next_in_edge(edge e) const { return edge{nextIn_[static_cast<std::size_t>(e.index)]}; }
    edge stop_in_edge() const { return nil; }

    // Raw views for hot loops (the shortest-path routine).
    const int32_t* firstOutData() const { return firstOut_.data(); }
    const int32_t* nextOutData() const { return nextOut_.data(); }
    const int32_t* targetData() const { return target_.data(); }

private:
    std::vector<int32_t> firstOut_, lastOut_, firstIn_, lastIn_;  // per node
    std::vector<int32_t> source_, target_, nextOut_, nextIn_;     // per edge
};

}  // namespace ringgraph
