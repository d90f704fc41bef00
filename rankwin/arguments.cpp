#include "arguments.h"

#include <algorithm>
#include <cmath>

#include "hv/hv.h"
#include "pictura/rankwin_ids.h"

namespace rankwin {
namespace {

// Truncates toward zero; values beyond the 32-bit range map to 0 so that the
// range check rejects them instead of wrapping.
std::int32_t truncateExtent(double value) {
    const double whole = std::trunc(value);
    return whole >= 1.0 && whole <= 2147483647.0 ? static_cast<std::int32_t>(whole) : 0;
}

}  // namespace

void checkImage(const hvArray& image) {
    if (image.isComplex() || image.getNumberOfDimensions() > 2) {
        pictura::rankwin::badImageArgument id;
        hvErrMsgId(id);
    }
}

Window readWindow(const hvArray& window, std::uint64_t rows, std::uint64_t columns) {
    if (window.getClassID() != hv::classid::kDouble || window.isComplex() ||
        window.getNumberOfElements() < 2) {
        pictura::rankwin::badWindowArgument id;
        hvErrMsgId(id);
    }
    const auto* values = static_cast<const double*>(window.getData());
    if (!std::isfinite(values[0]) || !std::isfinite(values[1])) {
        pictura::rankwin::nonFiniteWindow id;
        hvErrMsgId(id);
    }
    const Window extents{truncateExtent(values[0]), truncateExtent(values[1])};
    if (extents.m < 1 || extents.n < 1 || static_cast<std::uint64_t>(extents.m) > rows ||
        static_cast<std::uint64_t>(extents.n) > columns) {
        // Shown clamped: converting a value beyond the 64-bit range would be undefined.
        pictura::rankwin::windowOutOfRange id(
            static_cast<long long>(std::clamp(std::trunc(values[0]), -9e18, 9e18)),
            static_cast<long long>(std::clamp(std::trunc(values[1]), -9e18, 9e18)), rows, columns);
        hvErrMsgId(id);
    }
    return extents;
}

}  // namespace rankwin
