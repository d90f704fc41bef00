// One value per edge of a graph, indexed by edge handle. It also covers edges created
// after the array: their entries come into being at the array's default on first access.
#pragma once

#include <cstddef>
#include <vector>

#include "graph.h"

namespace ringgraph {

template <class T>
class edge_array {
public:
    edge_array() = default;
    explicit edge_array(const graph& G, T def = T()) { init(G, def); }

    void init(const graph& G, T def = T()) {
        graph_ = &G;
        def_ = def;
        values_.assign(static_cast<std::size_t>(G.number_of_edges()), def);
    }

    T& operator[](edge e) {
        const auto i = static_cast<std::size_t>(e.index);
        if (i >= values_.size()) grow();
        return values_[i];
    }
    T operator[](edge e) const {
        const auto i = static_cast<std::size_t>(e.index);
        return i < values_.size() ? values_[i] : def_;
    }

    // Brings the array up to the graph's current edge count (new entries at the default),
    // so that hot loops may read data() for every edge.
    void grow() {
        if (graph_ != nullptr) values_.resize(static_cast<std::size_t>(graph_->number_of_edges()), def_);
    }
    const T& default_value() const { return def_; }
    const graph* get_graph() const { return graph_; }
    std::size_t size() const { return values_.size(); }
    T* data() { return values_.data(); }
    const T* data() const { return values_.data(); }

private:
    const graph* graph_ = nullptr;
    T def_ = T();
    std::vector<T> values_;
};

}  // namespace ringgraph
