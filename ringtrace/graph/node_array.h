// One value per node of a graph, indexed by node handle.
#pragma once

#include <cstddef>
#include <vector>

#include "handles.h"
#include "large_allocator.h"


namespace ringgraph {

template <class T>
class node_array {
public:
    // Not bound to any graph: empty until assigned from a bound array or initialised.
    node_array() = default;
    template <class Graph>
    explicit node_array(const Graph& G, T def = T()) {
        init(G, def);
    }

    // Fits the array to the graph's current nodes, every entry at `def` (the default
    // given at construction when none is passed).
    template <class Graph>
    void init(const Graph& G) {
        init(G, def_);
    }
    template <class Graph>
    void init(const Graph& G, T def) {
        graph_ = &G;
        def_ = def;
        values_.assign(static_cast<std::size_t>(G.number_of_nodes()), def);
    }
    // Fits the array to the graph without writing its entries (they read as zero, not as
    // the default): for arrays whose every entry is written before it is read, so
    // untouched entries cost no memory traffic.
    template <class Graph>
    void init_for_overwrite(const Graph& G) {
        graph_ = &G;
        values_ = sparse_vector<T>();
        values_.resize(static_cast<std::size_t>(G.number_of_nodes()));
    }
    // Sets every entry back to the array's default without reallocating.
    void fill(T value) { values_.assign(values_.size(), value); }

    T& operator[](node v) { return values_[static_cast<std::size_t>(v.index)]; }
    const T& operator[](node v) const { return values_[static_cast<std::size_t>(v.index)]; }

    const void* get_graph() const { return graph_; }
    std::size_t size() const { return values_.size(); }
    T* data() { return values_.data(); }
    const T* data() const { return values_.data(); }

private:
    const void* graph_ = nullptr;
    T def_ = T();
    sparse_vector<T> values_;  // a search's predecessor array is written only where it goes
};

}  // namespace ringgraph
