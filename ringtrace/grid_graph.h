// The directed graph laid over the pixels: one node per pixel, a source and a sink terminal,
// nine grid edges out of every pixel of the active band, and the terminal edges that let a
// path enter at column 1 and leave at column width - 3.
//
// Node ids: pixel (x, y) has id x * height + y (ids run down each column); the source
// terminal is width * height, the sink width * height + 1. Nodes are created in id order, so
// a node's handle index equals its id.
#pragma once

#include <cstdint>

#include "graph/lattice.h"
#include "graph/node_array.h"

namespace ringtrace {

using ringgraph::edge;
using ringgraph::node;

// Offsets (dx, dy) of the nine grid edges out of a pixel, in creation order.
using gridOffset = ringgraph::lattice_offset;
inline constexpr const gridOffset (&kGridOffsets)[9] = ringgraph::kLatticeOffsets;

// Nodes are numbered by id, so the id table and the node table are the identity; they are
// kept as names because every phase addresses nodes through them.
struct nodeIds {
    int32_t operator[](node v) const { return v.index; }
};
struct nodeTable {
    int64_t count = 0;
    node operator[](size_t id) const { return node{static_cast<int32_t>(id)}; }
    size_t size() const { return static_cast<size_t>(count); }
};

struct pixelGrid {
    int32_t width = 0;
    int32_t height = 0;
    ringgraph::lattice G;
    nodeTable nodess;                  // node handle by id
    nodeIds A;                         // id by node
    ringgraph::lattice_costs cost;     // cost by edge
    node sourceTerminal;
    node sinkTerminal;

    int32_t idOf(node v) const { return A[v]; }
    int32_t columnOf(int32_t id) const { return id / height; }
    int32_t rowOf(int32_t id) const { return id % height; }
    bool isTerminal(int32_t id) const { return id >= width * height; }
};

// Expected counts, for reserving storage and for checks.
int64_t gridEdgeCount(int32_t width, int32_t height);
int64_t terminalEdgeCount(int32_t width, int32_t height);

// Lays the graph over a width x height image and sets every edge's cost to 1. Needs
// width >= 3 whenever height >= 7 (the terminal edges name columns 1 and width - 3).
void buildGrid(pixelGrid& grid, int32_t width, int32_t height);

}  // namespace ringtrace
