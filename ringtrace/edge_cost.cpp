#include "edge_cost.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "edge_cost_inputs.h"
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

void priceGridEdges(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                    const std::atomic<bool>* stop) {
    priceGridEdges(grid, primaryRaster, secondaryRaster, fastestColumnPricer(), stop);
}

void priceGridEdges(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster,
                    columnPricer pricer, const std::atomic<bool>* stop) {
    const int32_t W = grid.width, H = grid.height;
    const ringgraph::lattice& G = grid.G;
    if (G.number_of_grid_edges() == 0) return;

    // Unit orientation vectors for every green/blue pair, worked out once with the same
    // arithmetic as for a single pixel; a small image works them out per pixel instead,
    // which costs less than the table. The table holds the green component only: the blue
    // one of a pair is the green one of the pair with the two bytes swapped.
    // The vector preparation (which needs no table) goes with the vector pricers; the plain
    // pricer takes the plain preparation too, the reference from end to end. It works on
    // groups of sixteen columns, and very tall images are prepared four at a time.
    const int32_t group = H <= 65536 ? 16 : 4;
    const groupPreparer vectorPrepare =
        group == 16 && pricer != priceColumnPlain ? vectorGroupPreparer() : nullptr;
    const bool tabulate = vectorPrepare == nullptr && int64_t{W} * H >= int64_t{4} * 65536;
    ringgraph::large_vector<float> unitGreen(tabulate ? 65536 : 0);
    if (tabulate) unitOrientations(unitGreen.data());
    auto unitOfPixel = [&](uint32_t p) -> orientation {
        if (!tabulate) return unitOrientation(p);
        const uint32_t gb = (p >> 8) & 0xffffu;
        return orientation{unitGreen[gb], unitGreen[((gb & 0xffu) << 8) | (gb >> 8)]};
    };

    sweepStep steps[9];
    for (int j = 0; j < 9; ++j) {
        const stepTerm t = stepOf(0, 0, kGridOffsets[j].dx, kGridOffsets[j].dy, W, H);
        steps[j] = sweepStep{t.ax, t.ay, static_cast<double>(t.weight), t.rowTerm};
    }

    // Steps with the same vector have the same projections (the two vertical ones, unless
    // the height is too large for the wrapped step's length to be exact): each is worked
    // out for the first such step only.
    int sameAs[9], firstOf[9], distinct = 0;
    sweepStep distinctSteps[9];
    for (int j = 0; j < 9; ++j) {
        sameAs[j] = j;
        for (int k = 0; k < j; ++k) {
            if (steps[k].ax == steps[j].ax && steps[k].ay == steps[j].ay) {
                sameAs[j] = k;
                break;
            }
        }
        if (sameAs[j] == j) {
            firstOf[distinct] = j;
            distinctSteps[distinct++] = steps[j];
        }
    }
    const columnProjector vectorProject =
        pricer != priceColumnPlain ? vectorColumnProjector() : nullptr;
    const columnProjector projector = vectorProject != nullptr ? vectorProject : projectColumnPlain;

    // Per-pixel inputs of the columns an edge out of column x can reach (x - 1 .. x + 2), in
    // node id order, so every run of edges with the same step reads its tails and heads
    // contiguously. Columns are prepared a group at a time, reading each raster row's
    // stretch of the group in one go (column by column would touch a new page per pixel),
    // into a ring of two groups.
    struct columnInputs {
        int32_t* red;  // signed bytes, widened for the vector unit
        int32_t* support;
        float* g;
        float* b;
    };
    constexpr int32_t kAhead = 8;  // rows
    const int32_t rows = G.band_rows();
    uint16_t* cost = grid.cost.grid_data_for_overwrite();
    // The least cost of each move out of each column, found on the way (the search's
    // bounds need it); each column's entry is written by whichever half prices it.
    std::vector<ringgraph::lattice_costs::column_moves> moves(static_cast<size_t>(W));

    const auto slots = static_cast<size_t>(2 * group);
    const size_t intStride = static_cast<size_t>(H) + 16, realStride = static_cast<size_t>(H) + 16;
    const size_t alongStride = static_cast<size_t>(H) + 16;
    const size_t intCount = 2 * slots * intStride, realCount = 2 * slots * realStride,
                 alongCount = 4 * 9 * alongStride;
    const size_t scratchBytes = 4 * (intCount + realCount + alongCount);

    // Prices the edges out of columns first..last, with `held` (scratchBytes, or null) for
    // its scratch.
    auto priceColumns = [&](int32_t first, int32_t last, std::byte* held) {
        // One block for the ring of inputs and the projections, populated at once (see the
        // allocator) and never smaller than what the allocator maps in one huge page: fresh
        // small pages cost more here than the pricing itself (at 720 x 400, three blocks of
        // 4 KiB pages made a pass about 1 ms slower than one block in a huge page). Each array starts
        // one cache line further on than a multiple of 4 KiB would put it: the group's
        // columns are written side by side, row by row, and arrays a power of two apart
        // would all compete for the same few cache sets.
        ringgraph::large_vector<std::byte> scratch(
            held != nullptr ? 0 : std::max(scratchBytes, ringgraph::kWholeHugePagesFrom));
        std::byte* const base = held != nullptr ? held : scratch.data();
        if (held != nullptr) std::memset(held, 0, scratchBytes);  // as fresh scratch reads
        auto* const ints = reinterpret_cast<int32_t*>(base);
        auto* const reals = reinterpret_cast<float*>(ints + intCount);
        float* const along = reals + realCount;
        std::vector<columnInputs> ring(slots);
        for (size_t k = 0; k < slots; ++k) {
            ring[k] = columnInputs{&ints[2 * k * intStride], &ints[(2 * k + 1) * intStride],
                                   &reals[2 * k * realStride], &reals[(2 * k + 1) * realStride]};
        }
        auto slot = [&](int32_t x) -> columnInputs& { return ring[static_cast<size_t>(x % (2 * group))]; };
        auto prepareGroup = [&](int32_t g0) {
            const int32_t n = std::min(g0 + group, W) - g0;
            // The group's slots follow each other in the ring, so column k's arrays are a
            // fixed distance on from column 0's.
            int32_t* const ints0 = slot(g0).red;
            float* const reals0 = slot(g0).g;
            const size_t intStep = 2 * intStride, realStep = 2 * realStride;
            int32_t y = 0;
            if (vectorPrepare != nullptr && n == 16) {
                y = vectorPrepare(
                    primaryRaster, secondaryRaster, W, H, g0,
                    groupInputs{ints0, reals0, intStride, realStride, intStep, realStep});
            }
            for (; y < H; ++y) {
                const size_t r0 = static_cast<size_t>(rasterIndex(g0, y, W, H));
                const uint32_t* primary = primaryRaster + r0;
                const uint32_t* secondary = secondaryRaster + r0;
                // Each row is a new stretch of both rasters, too far from the last for the
                // processor to guess: ask for the stretches a few rows on in advance.
                if (y + kAhead < H) {
                    const size_t ahead = static_cast<size_t>(kAhead) * static_cast<size_t>(W);
                    __builtin_prefetch(primary - ahead);
                    __builtin_prefetch(primary - ahead + n - 1);
                    __builtin_prefetch(secondary - ahead);
                    __builtin_prefetch(secondary - ahead + n - 1);
                }
                size_t i = static_cast<size_t>(y), r = static_cast<size_t>(y);
                for (int32_t k = 0; k < n; ++k, i += intStep, r += realStep) {
                    const uint32_t p = primary[k];
                    ints0[i] = signedByte(redOf(p));
                    ints0[i + intStride] = signedByte(redOf(secondary[k]));
                    const orientation u = unitOfPixel(p);
                    reals0[r] = u.g;
                    reals0[r + realStride] = u.b;
                }
            }
        };
        // Each pixel's projections onto the nine steps, for the four columns an edge out of
        // column x touches (x - 1 .. x + 2): every projection serves two edges, one as tail
        // and one as head, and is worked out once.
        auto alongOf = [&](int32_t x, int j) {
            return along +
                   (static_cast<size_t>(x & 3) * 9 + static_cast<size_t>(sameAs[j])) * alongStride;
        };
        auto project = [&](int32_t x) {
            const columnInputs& c = slot(x);
            float* out[9];
            for (int s = 0; s < distinct; ++s) out[s] = alongOf(x, firstOf[s]);
            projector(c.g, c.b, H, distinctSteps, distinct, out);
        };

        int32_t prepared = (first - 1) / group * group;  // columns below this are in the ring
        prepareGroup(prepared);
        prepared += group;
        int32_t projected = first - 2;  // columns up to this one have their projections
        for (int32_t x = first; x <= last; ++x) {
            if (stop != nullptr && stop->load(std::memory_order_relaxed)) return;
            while (prepared <= x + 2) {
                prepareGroup(prepared);
                prepared += group;
            }
            while (projected < x + 2) project(++projected);
            const columnInputs& t = slot(x);
            columnRuns runs;
            for (int j = 0; j < 9; ++j) {
                const int32_t hx = x + kGridOffsets[j].dx;
                const columnInputs& h = slot(hx);
                const size_t head = static_cast<size_t>(3 + kGridOffsets[j].dy);
                runs.tail[j] = sweepPixels{&t.red[3], &t.support[3], alongOf(x, j) + 3};
                runs.head[j] = sweepPixels{&h.red[head], &h.support[head], alongOf(hx, j) + head};
            }
            int32_t least[9] = {0xffff, 0xffff, 0xffff, 0xffff, 0xffff,
                                0xffff, 0xffff, 0xffff, 0xffff};
            pricer(runs, rows, steps, cost + G.first_grid_edge(x, 3), least);
            moves[static_cast<size_t>(x)] = ringgraph::lattice_costs::column_moves{
                static_cast<uint16_t>(std::min(least[5], least[6])),
                static_cast<uint16_t>(std::min({least[2], least[3], least[4]})),
                static_cast<uint16_t>(std::min(least[7], least[8]))};
        }
    };

    // Large images are priced in two halves side by side: each edge's cost depends on its
    // two ends alone, so the split changes nothing but the time taken.
    const int32_t cols = W - 4;
    if (int64_t{cols} * rows >= (int64_t{1} << 20) && std::thread::hardware_concurrency() >= 2) {
        const int32_t split = 1 + cols / 2;
        std::thread left(priceColumns, 1, split - 1, nullptr);
        priceColumns(split, cols, nullptr);
        left.join();
    } else {
        // The scratch goes in the tail of the costs' own block where it fits: pages it has
        // already, instead of a huge page of its own.
        struct heldSpare {
            ringgraph::lattice_costs& costs;
            std::byte* at;
            ~heldSpare() { costs.release_spare(at); }  // on the way out, whichever way that is
        } held{grid.cost, grid.cost.claim_spare(scratchBytes)};
        priceColumns(1, cols, held.at);
    }
    if (stop == nullptr || !stop->load(std::memory_order_relaxed)) grid.cost.set_column_moves(std::move(moves));
}

}  // namespace ringtrace
