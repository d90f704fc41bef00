#include "edge_cost.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "edge_cost_sweep.h"
#include "graph/large_allocator.h"
#include "image_input.h"

namespace ringtrace {

namespace {

inline float toFloat(double v) { return static_cast<float>(v); }
inline float sqrtF(float v) { return toFloat(std::sqrt(static_cast<double>(v))); }
inline int signedByte(uint8_t b) { return static_cast<int8_t>(b); }

// Unit orientation vector of a pixel (NaN components for a zero-length vector).
struct orientation {
    float g, b;
};
orientation unitOrientation(uint32_t primaryWord) {
    const auto g = static_cast<float>(signedByte(greenOf(primaryWord)) - ORIENTATION_OFFSET);
    const auto b = static_cast<float>(signedByte(blueOf(primaryWord)) - ORIENTATION_OFFSET);
    const float n = sqrtF(toFloat(double{g} * g + double{b} * b));
    return {toFloat(double{g} / n), toFloat(double{b} / n)};
}

// What an edge's cost needs of its step: the unit step vector (from head back to tail,
// wrapped), the class weight and the row term paid when the cost is positive.
struct stepTerm {
    float ax, ay;
    int weight;
    int rowTerm;
};
stepTerm stepOf(int32_t xs, int32_t ys, int32_t xt, int32_t yt, int32_t W, int32_t H) {
    const int mx = posMod(static_cast<float>(xs - xt), static_cast<float>(W));
    const int my = posMod(static_cast<float>(ys - yt), static_cast<float>(H));
    auto ax = static_cast<float>(mx);
    auto ay = static_cast<float>(my);
    const float na = sqrtF(toFloat(double{ax} * ax + double{ay} * ay));
    ax = toFloat(double{ax} / na);
    ay = toFloat(double{ay} / na);
    if (xs == xt || ys == yt) return {ax, ay, AXIS_STEP_WEIGHT, 0};
    const int rows = std::abs(ys - yt);
    if (mx == 1 && my == 1) return {ax, ay, UNIT_STEP_WEIGHT, rows};
    return {ax, ay, OTHER_STEP_WEIGHT, rows};
}

int costOf(int redTail, int redHead, int supportTail, int supportHead, orientation t,
           orientation s, const stepTerm& step) {
    const int L = static_cast<int>(std::ceil(toFloat(static_cast<double>(redTail + redHead) / 2.0)));
    const float Q = toFloat(static_cast<double>(supportTail + supportHead) / 256.0);
    const float Pt = toFloat(double{step.ax} * t.g + double{step.ay} * t.b);
    const float Ps = toFloat(double{step.ax} * s.g + double{step.ay} * s.b);
    const float S = toFloat((double{std::fabs(Pt)} + double{std::fabs(Ps)}) / 2.0);
    const float c = toFloat(static_cast<double>(step.weight) /
                            (((double{S} + 0.1) * static_cast<double>(L + 1)) * (double{Q} + 0.01)));
    float v = std::ceil(c);
    if (v >= static_cast<float>(COST_CAP)) v = static_cast<float>(COST_CAP);
    // NaN, minus infinity and every non-positive value end here.
    if (!(v > 0.0f)) return 0;
    return static_cast<int>(v) + step.rowTerm;
}

}  // namespace

int posMod(float a, float b) {
    const float q = toFloat(double{a} / double{b});
    const int k = static_cast<int>(std::floor(q));
    return static_cast<int>(double{a} - static_cast<double>(k) * double{b});
}

int gridEdgeCost(uint32_t primaryTail, uint32_t primaryHead, uint32_t secondaryTail,
                 uint32_t secondaryHead, int32_t xs, int32_t ys, int32_t xt, int32_t yt,
                 int32_t width, int32_t height) {
    return costOf(signedByte(redOf(primaryTail)), signedByte(redOf(primaryHead)),
                  signedByte(redOf(secondaryTail)), signedByte(redOf(secondaryHead)),
                  unitOrientation(primaryHead), unitOrientation(primaryTail),
                  stepOf(xs, ys, xt, yt, width, height));
}

void priceGridEdges(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster) {
    const int32_t W = grid.width, H = grid.height;
    const ringgraph::lattice& G = grid.G;
    if (G.number_of_grid_edges() == 0) return;

    // Unit orientation vectors for every green/blue pair, worked out once with the same
    // arithmetic as for a single pixel.
    std::vector<orientation> unitOf(65536);
    for (uint32_t gb = 0; gb < 65536; ++gb) unitOf[gb] = unitOrientation((gb & 0xffu) << 8 | (gb >> 8) << 16);

    // Per-pixel inputs in node id order (down each column), so that every run of edges
    // with the same step reads its tails and heads contiguously.
    const auto pixels = static_cast<size_t>(int64_t{W} * H);
    ringgraph::large_vector<int8_t> red(pixels), support(pixels);
    ringgraph::large_vector<float> g(pixels), b(pixels);
    constexpr int32_t kBlock = 64;  // transpose in tiles to stay in cache
    for (int32_t x0 = 0; x0 < W; x0 += kBlock) {
        for (int32_t y = 0; y < H; ++y) {
            const size_t row = static_cast<size_t>(H - 1 - y) * static_cast<size_t>(W);
            for (int32_t x = x0; x < W && x < x0 + kBlock; ++x) {
                const uint32_t p = primaryRaster[row + static_cast<size_t>(x)];
                const size_t id = static_cast<size_t>(x) * static_cast<size_t>(H) + static_cast<size_t>(y);
                red[id] = static_cast<int8_t>(redOf(p));
                support[id] = static_cast<int8_t>(redOf(secondaryRaster[row + static_cast<size_t>(x)]));
                const orientation u = unitOf[(p >> 8) & 0xffffu];
                g[id] = u.g;
                b[id] = u.b;
            }
        }
    }

    sweepStep steps[9];
    for (int j = 0; j < 9; ++j) {
        const stepTerm t = stepOf(0, 0, kGridOffsets[j].dx, kGridOffsets[j].dy, W, H);
        steps[j] = sweepStep{t.ax, t.ay, static_cast<double>(t.weight), t.rowTerm};
    }
    const int32_t rows = G.band_rows();
    std::vector<uint16_t> run(static_cast<size_t>(rows));
    uint16_t* cost = grid.cost.grid_data_for_overwrite();
    for (int32_t x = 1; x <= W - 4; ++x) {
        const size_t tail = static_cast<size_t>(x) * static_cast<size_t>(H) + 3;
        uint16_t* column = cost + G.first_grid_edge(x, 3);
        for (int j = 0; j < 9; ++j) {
            const auto head = static_cast<size_t>(static_cast<int64_t>(tail) + kGridOffsets[j].dx * int64_t{H} + kGridOffsets[j].dy);
            priceRun(&red[tail], &support[tail], &g[tail], &b[tail], &red[head], &support[head], &g[head], &b[head],
                     rows, steps[j], run.data());
            for (int32_t i = 0; i < rows; ++i) column[9 * static_cast<size_t>(i) + static_cast<size_t>(j)] = run[static_cast<size_t>(i)];
        }
    }
}

}  // namespace ringtrace
