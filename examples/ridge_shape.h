#pragma once

#include "prng.h"
#include "ring_generator.h"

namespace ringgen {

// The ridge as a centre row plus two sine harmonics of the angle, plus an optional linear
// drift. The angle is taken modulo the period before the sine, so without drift column 1
// and column 1 + period give bit-identical rows, not merely close ones.
class RidgeShape {
  public:
    // Draws the harmonic weights and phases from rng.
    RidgeShape(const RingParams& p, SplitMix64& rng);

    double rowAt(int x) const;
    double slopeAt(int x) const;  // dy/dx

  private:
    double angle(int x) const;

    int period_;
    double centre_;
    double a1_, a2_;
    double phi1_, phi2_;
    double drift_;
};

}  // namespace ringgen
