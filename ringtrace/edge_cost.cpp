#include "edge_cost.h"

#include <cmath>
#include <cstdlib>
#include <vector>

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
    const ringgraph::graph& G = grid.G;
    grid.cost.grow();

    // Per pixel and per step shape the terms are the same for every edge that shares them,
    // so they are worked out once; the arithmetic is unchanged.
    std::vector<orientation> unit(static_cast<size_t>(int64_t{W} * H));
    for (size_t i = 0; i < unit.size(); ++i) unit[i] = unitOrientation(primaryRaster[i]);
    stepTerm steps[5][5];
    bool haveStep[5][5] = {};

    const int32_t terminals = W * H;
    for (edge e = G.first_edge(); e != G.stop_edge(); e = G.next_edge(e)) {
        const int32_t is = grid.A[G.source(e)];
        const int32_t it = grid.A[G.target(e)];
        if (is >= terminals || it >= terminals) continue;
        const int32_t xs = is / H, ys = is % H, xt = it / H, yt = it % H;
        const int32_t rs = rasterIndex(xs, ys, W, H), rt = rasterIndex(xt, yt, W, H);
        const int32_t dx = xt - xs, dy = yt - ys;
        stepTerm step;
        if (dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2) {
            if (!haveStep[dx + 2][dy + 2]) {
                steps[dx + 2][dy + 2] = stepOf(xs, ys, xt, yt, W, H);
                haveStep[dx + 2][dy + 2] = true;
            }
            step = steps[dx + 2][dy + 2];
        } else {
            step = stepOf(xs, ys, xt, yt, W, H);
        }
        grid.cost[e] = costOf(signedByte(redOf(primaryRaster[rs])), signedByte(redOf(primaryRaster[rt])),
                              signedByte(redOf(secondaryRaster[rs])), signedByte(redOf(secondaryRaster[rt])),
                              unit[static_cast<size_t>(rt)], unit[static_cast<size_t>(rs)], step);
    }
}

}  // namespace ringtrace
