#pragma once

#include <cmath>
#include <limits>

namespace mediankernels {

// The order in which window values are ranked: the natural one for integers.
template <typename T>
struct MedianOrder {
    bool operator()(T a, T b) const { return a < b; }
    static T canonical(T value) { return value; }
};

// Floats need a strict weak order even with NaN present: all NaNs are equal
// and above +inf, and -0 lies below +0, so the result never depends on how
// the values happened to be arranged.
template <>
struct MedianOrder<float> {
    bool operator()(float a, float b) const {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        if (a == b) return std::signbit(a) && !std::signbit(b);
        return a < b;
    }
    static float canonical(float value) {
        return std::isnan(value) ? std::numeric_limits<float>::quiet_NaN() : value;
    }
};

}  // namespace mediankernels
