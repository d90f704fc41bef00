// The vectorisable core of the cost pass: one run of edges that share a step shape, with
// per-pixel inputs laid out contiguously. Each lane does exactly the scalar arithmetic (no
// operation is reordered or fused), so the result is bit-identical to the plain formula.
#pragma once

#include <cstdint>

namespace ringtrace {

struct sweepStep {
    float ax, ay;    // unit step vector
    double weight;   // class weight
    int rowTerm;     // added to a positive cost
};

// Costs of n edges i -> i: tail inputs at index i of the tail arrays, head inputs at
// index i of the head arrays. `red` and `support` are the signed red components.
void priceRun(const int8_t* redTail, const int8_t* supportTail, const float* gTail, const float* bTail,
              const int8_t* redHead, const int8_t* supportHead, const float* gHead, const float* bHead,
              int32_t n, const sweepStep& step, uint16_t* out);

}  // namespace ringtrace
