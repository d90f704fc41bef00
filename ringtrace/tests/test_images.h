// In-memory images and grids for the tracer's tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "edge_cost.h"
#include "grid_graph.h"

namespace ringtrace::testing {

inline uint32_t word(int r, int g, int b) {
    return static_cast<uint32_t>(r & 0xff) | static_cast<uint32_t>(g & 0xff) << 8 |
           static_cast<uint32_t>(b & 0xff) << 16 | 0xff000000u;
}

struct imagePair {
    int32_t W = 0, H = 0;
    std::vector<uint32_t> primary, secondary;
    imagePair(int32_t w, int32_t h, uint32_t p, uint32_t s)
        : W(w), H(h), primary(static_cast<size_t>(w * h), p), secondary(static_cast<size_t>(w * h), s) {}
    uint32_t& primaryAt(int x, int y) { return primary[static_cast<size_t>((H - 1 - y) * W + x)]; }
    uint32_t& secondaryAt(int x, int y) { return secondary[static_cast<size_t>((H - 1 - y) * W + x)]; }
};

// Bright pixels along the field everywhere: every row is an equally good straight contour.
inline imagePair uniformPair(int32_t W, int32_t H) { return imagePair(W, H, word(100, 94, 64), word(64, 0, 0)); }

// Random images whose bytes stay in the "sane" signed range with a few odd values mixed in.
inline imagePair randomPair(std::mt19937& rng, int32_t W, int32_t H) {
    imagePair img(W, H, 0, 0);
    for (auto& w : img.primary) {
        const uint32_t r = rng();
        const int red = 20 + static_cast<int>(r % 108);
        const int g = 4 + static_cast<int>((r >> 8) % 120), b = 4 + static_cast<int>((r >> 16) % 120);
        w = word(red, g, b);
    }
    for (auto& w : img.secondary) w = word(5 + static_cast<int>(rng() % 120), 0, 0);
    return img;
}

struct pricedGrid {
    pixelGrid grid;
    explicit pricedGrid(imagePair& img) {
        buildGrid(grid, img.W, img.H);
        priceGridEdges(grid, img.primary.data(), img.secondary.data());
    }
};

}  // namespace ringtrace::testing
