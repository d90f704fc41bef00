#include "graph.h"

#include <limits>
#include <stdexcept>

namespace ringgraph {

void graph::reserve(std::size_t nodes, std::size_t edges) {
    firstOut_.reserve(nodes);
    lastOut_.reserve(nodes);
    firstIn_.reserve(nodes);
    lastIn_.reserve(nodes);
    source_.reserve(edges);
    target_.reserve(edges);
    nextOut_.reserve(edges);
    nextIn_.reserve(edges);
}

node graph::new_node() {
    if (firstOut_.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::length_error("graph: too many nodes");
    }
    firstOut_.push_back(-1);
    lastOut_.push_back(-1);
    firstIn_.push_back(-1);
    lastIn_.push_back(-1);
    return node{static_cast<int32_t>(firstOut_.size() - 1)};
}

edge graph::new_edge(node v, node w) {
    if (source_.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::length_error("graph: too many edges");
    }
    const int32_t e = static_cast<int32_t>(source_.size());
    const auto vi = static_cast<std::size_t>(v.index);
    const auto wi = static_cast<std::size_t>(w.index);
    source_.push_back(v.index);
    target_.push_back(w.index);
    nextOut_.push_back(-1);
    nextIn_.push_back(-1);
    // Append to the tails so that each adjacency list keeps creation order.
    if (lastOut_[vi] < 0) {
        firstOut_[vi] = e;
    } else {
        nextOut_[static_cast<std::size_t>(lastOut_[vi])] = e;
    }
    lastOut_[vi] = e;
    if (lastIn_[wi] < 0) {
        firstIn_[wi] = e;
    } else {
        nextIn_[static_cast<std::size_t>(lastIn_[wi])] = e;
    }
    lastIn_[wi] = e;
    return edge{e};
}

}  // namespace ringgraph
