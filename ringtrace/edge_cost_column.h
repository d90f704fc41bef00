// Pricing one column of the grid: its nine runs of edges (one per step shape) priced and
// written interleaved, nine costs per row, with the least cost of each run on the way.
// The plain pricer is the reference; the vector ones must match it bit for bit.
#pragma once

#include <cstdint>

#include "edge_cost_sweep.h"

namespace ringtrace {

// The inputs of a column's nine runs: run j prices the edges from tail[j] pixel i to
// head[j] pixel i.
struct columnRuns {
    sweepPixels tail[9];
    sweepPixels head[9];
};

// Prices rows 0..n-1: out[9 * i + j] is the cost of row i's edge of step j; least[j] is
// lowered to the least cost of run j.
using columnPricer = void (*)(const columnRuns& runs, int32_t n, const sweepStep steps[9],
                              uint16_t* out, int32_t least[9]);

void priceColumnPlain(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                      int32_t least[9]);

// Prices one run of n edges into out (priceRun's contract).
using runPricer = void (*)(const sweepPixels& tail, const sweepPixels& head, int32_t n,
                           const sweepStep& step, int32_t* out);

// A column priced run by run with `price`, a stretch of rows at a time so that the nine
// runs stay in the first-level cache until interleaveRuns writes them out.
void priceColumnByRuns(const columnRuns& runs, int32_t n, const sweepStep steps[9], uint16_t* out,
                       int32_t least[9], runPricer price);

// The projections of a column's pixels onto `count` steps: out[s][i] is projectRun's value
// for steps[s] and pixel i.
using columnProjector = void (*)(const float* g, const float* b, int32_t n, const sweepStep* steps,
                                 int count, float* const* out);

void projectColumnPlain(const float* g, const float* b, int32_t n, const sweepStep* steps,
                        int count, float* const* out);

// The vector projector this build holds and this processor runs, or nullptr.
columnProjector vectorColumnProjector();

// The vector pricers, each nullptr where this build lacks it or this processor cannot run it.
columnPricer avx2ColumnPricer();
columnPricer avx512ColumnPricer();

// The widest vector pricer this build holds and this processor runs, or nullptr.
columnPricer vectorColumnPricer();

// The vector pricer where there is one, else the plain one.
columnPricer fastestColumnPricer();

}  // namespace ringtrace
