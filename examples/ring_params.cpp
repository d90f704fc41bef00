#include <cmath>
#include <string>

#include "ring_generator.h"

namespace ringgen {

namespace {

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

bool rangeOk(const ValueRange& r, const char* name, std::string* error) {
    if (r.lo < 0 || r.hi > 127 || r.lo > r.hi) {
        return fail(error, std::string(name) + " range must satisfy 0 <= lo <= hi <= 127, got " +
                               std::to_string(r.lo) + ".." + std::to_string(r.hi));
    }
    return true;
}

}  // namespace

bool validateParams(const RingParams& p, std::string* error) {
    if (p.width < kMinWidth || p.width > kMaxSide) {
        return fail(error, "width must be between " + std::to_string(kMinWidth) + " and " +
                               std::to_string(kMaxSide) + ", got " + std::to_string(p.width));
    }
    if (p.height < kMinHeight || p.height > kMaxSide) {
        return fail(error, "height must be between " + std::to_string(kMinHeight) + " and " +
                               std::to_string(kMaxSide) + ", got " + std::to_string(p.height));
    }
    if (!std::isfinite(p.amplitude) || p.amplitude < 0.0) {
        return fail(error, "amplitude must be a finite value >= 0");
    }
    if (!std::isfinite(p.ridgeSigma) || p.ridgeSigma <= 0.0) {
        return fail(error, "ridge sigma must be a finite value > 0");
    }
    // The ridge, drift included, must stay inside the rows the tracer's terminals reach.
    // ... and stay shallow enough to follow one row per column.
    if (!std::isfinite(p.drift) || std::fabs(p.drift) > (p.height - 16) / 2.0 ||
        std::fabs(p.drift) > 0.8 * (p.width - 4)) {
        return fail(error, "drift must be a finite number of rows of at most (height - 16) / 2 and 0.8 (width - 4)");
    }
    return rangeOk(p.background, "background", error) && rangeOk(p.ridge, "ridge", error) &&
           rangeOk(p.supportLow, "low support", error) &&
           rangeOk(p.supportHigh, "high support", error);
}

}  // namespace ringgen
