#pragma once

// The median filter behind the Python package rankwin, without Python: the
// median kernels run over 2-D planes through the plug-in's band runner
// (rankwin/bands.h). The binding (module.cpp) only converts NumPy arrays to
// planes and back.
//
// Planes are seen as the kernels see them: `height` lines of `width`
// elements, `step` bytes from one line to the next. Every function checks its
// arguments before it touches an element and throws std::invalid_argument
// (ValueError in Python) for anything a kernel could not take: extents beyond
// the kernels' 32-bit sizes and steps, misaligned or overlapping planes. A
// kernel that still refuses a call throws std::runtime_error.

#include <cstdint>

namespace rankwin::python {

enum class ElementType { u8, u16, i16, f32 };

// The border rules of scipy.ndimage (SciPy's names map onto these five).
enum class Extend {
    reflect,   // dcba|abcd|dcba  ("reflect", "grid-mirror")
    mirror,    // dcb|abcd|cba    ("mirror")
    nearest,   // aaaa|abcd|dddd  ("nearest")
    wrap,      // abcd|abcd|abcd  ("wrap", "grid-wrap")
    constant,  // kkkk|abcd|kkkk  ("constant", "grid-constant")
};

struct ConstPlane {
    const void* data;
    std::int64_t width;
    std::int64_t height;
    std::int64_t step;
};

struct Plane {
    void* data;
    std::int64_t width;
    std::int64_t height;
    std::int64_t step;
};

std::int64_t elementSize(ElementType type);

// Where input index `index` (any integer) reads from along an axis of
// `length` >= 1 elements, or -1 for the constant. Outside the axis the
// extension repeats (windows larger than the array); an axis of length 1 maps
// every outside index to its one element (except for the constant). Matches
// SciPy's NI_InitFilterOffsets, without its read before the array for
// "reflect" at indices that are multiples of -2 * length below -2 * length.
std::int64_t extendIndex(std::int64_t index, std::int64_t length, Extend mode);

// `value` converted to the element type as SciPy's C code converts its cval
// (a C cast from double). On x86-64 that truncates toward zero to a 32-bit
// integer (values outside its range and NaN giving its smallest value) and
// keeps the low bits; elsewhere it is this compiler's conversion.
double castValue(ElementType type, double value);

// The "valid" median: destination element (x, y) is the median of the source's
// maskWidth x maskHeight block whose first element is (x, y). The destination
// has width - maskWidth + 1 elements per line and height - maskHeight + 1
// lines. `threads` <= 0 means threadCount(); sources below kThreadedElements
// are filtered on the calling thread. Neither plane may overlap the other.
void medianValid(ElementType type, ConstPlane source, Plane destination, std::int64_t maskWidth,
                 std::int64_t maskHeight, int threads);

// scipy.ndimage.median_filter's rule on one plane: destination element (x, y)
// is the median of the source elements x - shiftX + i, y - shiftY + j
// (0 <= i < maskWidth, 0 <= j < maskHeight), extended by `mode` beyond the
// edges, with `constant` converted by castValue. 0 <= shift < mask.
// The destination has the source's extents. Only a frame is copied: the
// interior is filtered in place by medianValid, the border strips from small
// extended copies.
void medianExtended(ElementType type, ConstPlane source, Plane destination,
                    std::int64_t maskWidth, std::int64_t maskHeight, std::int64_t shiftX,
                    std::int64_t shiftY, Extend mode, double constant, int threads);

// Arrays whose extended copy has at most this many elements (64 K) are
// filtered in one kernel call on that copy instead of interior and strips.
// Returns the previous limit; for tests, which set 0 to reach the strips.
std::int64_t setWholeCopyLimit(std::int64_t elements);

}  // namespace rankwin::python
