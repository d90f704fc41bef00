// The vectorisable core of the cost pass: one run of edges that share a step shape, with
// per-pixel inputs laid out contiguously. Each lane does exactly the scalar arithmetic (no
// operation is reordered or fused; single-precision roundings are done by converting to
// float and back), so the result is bit-identical to the plain formula.
#pragma once

#include <cmath>
#include <cstdint>

namespace ringtrace {

struct sweepStep {
    float ax, ay;    // unit step vector
    double weight;   // class weight
    int rowTerm;     // added to a positive cost
};

// Per-pixel inputs: the signed red bytes (primary and secondary) widened to int, and how
// far the step runs along the pixel's orientation (see projectRun).
struct sweepPixels {
    const int32_t* red;
    const int32_t* support;
    const float* along;
};

// out[i] = |the step vector . the unit orientation (g[i], b[i])|, the dot product evaluated
// in double precision and rounded to single, for the n pixels of a column.
void projectRun(const float* g, const float* b, int32_t n, const sweepStep& step, float* out);

// The cost of one edge from its ends' inputs, step by step as the definition rounds:
// everything the vector pricers cannot settle faster comes here.
inline int32_t priceOne(int32_t redT, int32_t redH, int32_t supT, int32_t supH, float alongT, float alongH,
                        const sweepStep& step) {
    // Both read unconditionally: a load under a condition would keep the loops that call
    // this from being vectorised.
    const double weight = step.weight;
    const int rowTerm = step.rowTerm;
    // ceil(half the red sum): the single-precision ceiling of (sum / 2.0) is exact.
    const int L = (redT + redH + 1) >> 1;
    // (sum / 256.0) is exact in single precision; multiplying by 1/256 is the same value.
    const double Q = static_cast<double>(supT + supH) * (1.0 / 256.0);
    // Halving is exact either way.
    const double S = static_cast<double>(static_cast<float>((double{alongH} + double{alongT}) * 0.5));
    const double denominator = ((S + 0.1) * static_cast<double>(L + 1)) * (Q + 0.01);
    const double c = static_cast<double>(static_cast<float>(weight / denominator));
    double v = std::ceil(c);  // c is a float value, so its ceiling is the float ceiling
    v = v >= 2000.0 ? 2000.0 : v;
    v = v > 0.0 ? v : 0.0;  // NaN, minus infinity and every non-positive cost give 0
    const int k = static_cast<int>(v);
    return k + (k > 0 ? rowTerm : 0);
}

// Costs of the n edges from tail pixel i to head pixel i.
void priceRun(const sweepPixels& tail, const sweepPixels& head, int32_t n, const sweepStep& step, int32_t* out);

// Writes nine runs of n costs (run j at runs + j * stride, each 0..65535) interleaved, the
// nine costs of row i at out[9 * i .. 9 * i + 8], in one sequential pass, and lowers
// least[j] to the least cost of run j.
void interleaveRuns(const int32_t* runs, int32_t stride, int32_t n, uint16_t* out, int32_t least[9]);

// The green component of the unit orientation vector of every green/blue byte pair gb
// (green in the low byte), exactly as the cost model works it out for one pixel: the bytes
// read as signed, less 64, the green one divided by the vector's single-precision length
// (NaN for a vector of length zero). The blue component of pair gb is the green one of the
// pair with its bytes swapped, as the length does not depend on their order.
void unitOrientations(float* green);

}  // namespace ringtrace
