#include "grey_scale.h"

#include <cmath>
#include <limits>

namespace ringview {

namespace {

struct Range {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
};

Range finiteRange(const std::vector<double>& values) {
    Range r;
    for (double v : values) {
        if (!std::isfinite(v)) continue;
        if (v < r.lo) r.lo = v;
        if (v > r.hi) r.hi = v;
    }
    return r;
}

std::uint8_t stretch(double v, const Range& r) {
    if (std::isnan(v)) return 0;
    if (std::isinf(v)) return v > 0 ? 255 : 0;
    if (!(r.hi > r.lo)) return 0;
    // Halved first, so that ranges spanning most of the double range do not overflow.
    const double t = (v / 2 - r.lo / 2) / (r.hi / 2 - r.lo / 2);
    const double scaled = std::round(t * 255.0);
    return static_cast<std::uint8_t>(scaled < 0.0 ? 0.0 : scaled > 255.0 ? 255.0 : scaled);
}

}  // namespace

std::vector<std::uint8_t> toDisplayGrey(const GreyImage& image) {
    std::vector<std::uint8_t> out(image.values.size());
    const bool asIs = image.kind == SampleKind::Unsigned && image.bits == 8;
    const Range range = asIs ? Range{} : finiteRange(image.values);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] =
            asIs ? static_cast<std::uint8_t>(image.values[i]) : stretch(image.values[i], range);
        if (image.minIsWhite) out[i] = static_cast<std::uint8_t>(255 - out[i]);
    }
    return out;
}

}  // namespace ringview
