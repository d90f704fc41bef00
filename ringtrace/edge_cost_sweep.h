// The vectorisable core of the cost pass: one run of edges that share a step shape, with
// per-pixel inputs laid out contiguously. Each lane does exactly the scalar arithmetic (no
// operation is reordered or fused; single-precision roundings are done by converting to
// float and back), so the result is bit-identical to the plain formula.
#pragma once

#include <cstdint>

namespace ringtrace {

struct sweepStep {
    float ax, ay;    // unit step vector
    double weight;   // class weight
    int rowTerm;     // added to a positive cost
};

// Per-pixel inputs: the signed red bytes (primary and secondary) widened to int, and the
// unit orientation vector (single-precision values held in doubles).
struct sweepPixels {
    const int32_t* red;
    const int32_t* support;
    const double* g;
    const double* b;
};

// Costs of the n edges from tail pixel i to head pixel i.
void priceRun(const sweepPixels& tail, const sweepPixels& head, int32_t n, const sweepStep& step, int32_t* out);

// The unit orientation vector of every green/blue byte pair gb (green in the low byte),
// exactly as the cost model works it out for one pixel: the bytes read as signed, less 64,
// divided by the vector's single-precision length (NaN for a vector of length zero).
void unitOrientations(float* g, float* b);

}  // namespace ringtrace
