#include "ridge_shape.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ringgen {

namespace {

// Rows kept clear above and below the ridge centre line; the tracer's terminals
// only reach rows 3..height-4, and the ridge profile needs a few rows of its own.
constexpr double kBorderRows = 6.0;
// Steeper ridges cannot be followed by the tracer's one-row-per-column steps.
constexpr double kMaxSlope = 0.8;

}  // namespace

RidgeShape::RidgeShape(const RingParams& p, SplitMix64& rng)
    : period_(p.width - 4), centre_((p.height - 1) / 2.0), drift_(p.drift) {
    // The drift moves the ridge by up to half of it (a little more in the columns outside
    // 1..width-3) and adds drift / period to the slope.
    const double driftRows = std::fabs(drift_) * (0.5 + 3.0 / period_);
    const double maxDeviation = centre_ - kBorderRows - driftRows;
    // The slope is at most A * (w1 + 2 w2) * 2pi / period <= A * 4pi / period.
    const double driftSlope = std::fabs(drift_) / period_;
    const double maxForSlope = std::max(0.0, kMaxSlope - driftSlope) * period_ / (4.0 * std::numbers::pi);
    const double total =
        std::max(0.0, std::min({p.amplitude * p.height, maxDeviation, maxForSlope}));
    const double w1 = 0.55 + 0.25 * rng.unit();
    a1_ = total * w1;
    a2_ = total * (1.0 - w1);
    phi1_ = 2.0 * std::numbers::pi * rng.unit();
    phi2_ = 2.0 * std::numbers::pi * rng.unit();
}

double RidgeShape::angle(int x) const {
    const int k = ((x - 1) % period_ + period_) % period_;
    return 2.0 * std::numbers::pi * k / period_;
}

double RidgeShape::rowAt(int x) const {
    const double t = angle(x);
    const double ring = centre_ + a1_ * std::sin(t + phi1_) + a2_ * std::sin(2.0 * t + phi2_);
    if (drift_ == 0.0) return ring;
    return ring + drift_ * (static_cast<double>(x - 1) / period_ - 0.5);
}

double RidgeShape::slopeAt(int x) const {
    const double t = angle(x);
    const double dtdx = 2.0 * std::numbers::pi / period_;
    return dtdx * (a1_ * std::cos(t + phi1_) + 2.0 * a2_ * std::cos(2.0 * t + phi2_)) + drift_ / period_;
}

}  // namespace ringgen
