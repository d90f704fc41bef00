// Node and edge handles of the graph component.
//
// Handles are plain indices into the graph's contiguous storage: copying one is free, and
// a handle stays valid for the graph's whole life because nodes and edges are only ever
// added. `nil` converts to either kind and stands for "no node" / "no edge".
#pragma once

#include <cstdint>

namespace ringgraph {

struct node {
    int32_t index = -1;
    constexpr bool operator==(const node&) const = default;
};

struct edge {
    int32_t index = -1;
    constexpr bool operator==(const edge&) const = default;
};

struct nil_t {
    constexpr operator node() const { return node{}; }
    constexpr operator edge() const { return edge{}; }
};
inline constexpr nil_t nil{};

constexpr bool operator==(node v, nil_t) { return v.index < 0; }
constexpr bool operator==(edge e, nil_t) { return e.index < 0; }

// Node and edge iteration for graphs whose handles are the numbers 0..n-1 in creation
// order: every node / edge once, ending at nil.
template <class Graph>
class sequential_ids {
public:
    node first_node() const { return self().number_of_nodes() > 0 ? node{0} : nil; }
    node next_node(node v) const { return v.index + 1 < self().number_of_nodes() ? node{v.index + 1} : nil; }
    node stop_node() const { return nil; }
    edge first_edge() const { return self().number_of_edges() > 0 ? edge{0} : nil; }
    edge next_edge(edge e) const { return e.index + 1 < self().number_of_edges() ? edge{e.index + 1} : nil; }
    edge stop_edge() const { return nil; }

private:
    const Graph& self() const { return static_cast<const Graph&>(*this); }
};

}  // namespace ringgraph
