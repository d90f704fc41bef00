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

}  // namespace ringgraph
