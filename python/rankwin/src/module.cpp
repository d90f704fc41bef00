// rankwin._rankwin: NumPy arrays in, the median engine (median_engine.h) run
// without the GIL, NumPy arrays out. Argument rules shared with SciPy live in
// the Python layer (rankwin/_filters.py); this layer checks what it relies on.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "bands.h"
#include "median_engine.h"

namespace py = pybind11;
using rankwin::python::ConstPlane;
using rankwin::python::ElementType;
using rankwin::python::Extend;
using rankwin::python::Plane;

namespace {

constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void fail(const std::string& message) { throw py::value_error(message); }

std::optional<ElementType> elementTypeOf(const py::array& a) {
    // Native byte order only: equivalence fails for swapped dtypes.
    if (py::isinstance<py::array_t<std::uint8_t>>(a)) return ElementType::u8;
    if (py::isinstance<py::array_t<std::uint16_t>>(a)) return ElementType::u16;
    if (py::isinstance<py::array_t<std::int16_t>>(a)) return ElementType::i16;
    if (py::isinstance<py::array_t<float>>(a)) return ElementType::f32;
    return std::nullopt;
}

ElementType requireElementType(const py::array& a) {
    if (a.ndim() != 2) {
        fail("expected a 2-D array, got " + std::to_string(a.ndim()) + " dimensions");
    }
    const auto type = elementTypeOf(a);
    if (!type) {
        throw py::type_error("unsupported dtype " + std::string(py::str(static_cast<py::handle>(a.dtype()))) +
                             ": rankwin filters uint8, uint16, int16 and float32 "
                             "(native byte order)");
    }
    return *type;
}

// A 2-D array as the kernels see it: its rows as lines (C order), or its
// columns (Fortran order).
struct Layout {
    bool rowsAreLines;
    std::int64_t width;
    std::int64_t height;
    std::int64_t step;
};

// `a` read or written in place with its rows (or its columns) as the kernel
// lines, if that fits: elements of a line adjacent, lines a whole number of
// elements apart and no closer than a line, everything within the kernels'
// 32-bit steps, aligned.
std::optional<Layout> layoutAs(const py::array& a, bool rowsAreLines) {
    const std::int64_t E = a.itemsize();
    const std::int64_t lines = a.shape(rowsAreLines ? 0 : 1);
    const std::int64_t width = a.shape(rowsAreLines ? 1 : 0);
    const std::int64_t lineStride = a.strides(rowsAreLines ? 0 : 1);
    const std::int64_t elementStride = a.strides(rowsAreLines ? 1 : 0);
    if (reinterpret_cast<std::uintptr_t>(a.data()) % static_cast<std::uintptr_t>(E) != 0) {
        return std::nullopt;
    }
    if (width != 1 && elementStride != E) return std::nullopt;
    if (lines != 1 && (lineStride % E != 0 || lineStride < width * E)) return std::nullopt;
    const std::int64_t step = lines == 1 ? width * E : lineStride;
    if (width > kMax32 / E || lines > kMax32 || step > kMax32) return std::nullopt;
    return Layout{rowsAreLines, width, lines, step};
}

// The layout in which `a` can be read in place, if there is one; when both
// orders fit (a single row or column), the longer lines win.
std::optional<Layout> inPlaceLayout(const py::array& a) {
    const auto rows = layoutAs(a, true);
    const auto columns = layoutAs(a, false);
    if (rows && columns) return a.shape(1) >= a.shape(0) ? rows : columns;
    return rows ? rows : columns;
}

// `a` itself when it can be read in place, otherwise one copy of it in C order
// (or Fortran order when only that fits the kernels' steps).
std::pair<py::array, Layout> readable(const py::array& a) {
    if (a.shape(0) < 1 || a.shape(1) < 1) fail("the array is empty");
    if (auto layout = inPlaceLayout(a)) return {a, *layout};
    const std::int64_t E = a.itemsize();
    const std::int64_t R = a.shape(0);
    const std::int64_t C = a.shape(1);
    // Checked before copying, so that a huge broadcast view is never expanded.
    if (C <= kMax32 / E && R <= kMax32) {
        py::array copy = py::array::ensure(a, py::array::c_style);
        if (!copy) throw py::error_already_set();
        return {copy, Layout{true, C, R, C * E}};
    }
    if (R <= kMax32 / E && C <= kMax32) {
        py::array copy = py::array::ensure(a, py::array::f_style);
        if (!copy) throw py::error_already_set();
        return {copy, Layout{false, R, C, R * E}};
    }
    fail("an array of " + std::to_string(R) + " x " + std::to_string(C) +
         " elements is beyond the median kernels' 32-bit sizes and steps");
}

// A new array of `rows` x `cols` of a's dtype, in the order that makes its
// lines the kernel's lines.
py::array allocate(const py::array& like, std::int64_t rows, std::int64_t cols,
                   bool rowsAreLines) {
    const std::int64_t E = like.itemsize();
    std::vector<py::ssize_t> shape{rows, cols};
    std::vector<py::ssize_t> strides =
        rowsAreLines ? std::vector<py::ssize_t>{cols * E, E} : std::vector<py::ssize_t>{E, rows * E};
    return py::array(like.dtype(), shape, strides);
}

ConstPlane constPlane(const py::array& a, const Layout& l) {
    return ConstPlane{a.data(), l.width, l.height, l.step};
}

Plane plane(py::array& a, const Layout& l) {
    return Plane{a.mutable_data(), l.width, l.height, l.step};
}

int threadsArgument(std::optional<int> threads) {
    if (!threads) return 0;
    if (*threads < 1) fail("threads must be at least 1, got " + std::to_string(*threads));
    return *threads;
}

Extend extendMode(const std::string& mode) {
    if (mode == "reflect" || mode == "grid-mirror") return Extend::reflect;
    if (mode == "mirror") return Extend::mirror;
    if (mode == "nearest") return Extend::nearest;
    if (mode == "wrap" || mode == "grid-wrap") return Extend::wrap;
    if (mode == "constant" || mode == "grid-constant") return Extend::constant;
    fail("boundary mode not supported: " + mode);
}

py::array medianValid(const py::array& input, std::int64_t m, std::int64_t n,
                      std::optional<int> threads) {
    const ElementType type = requireElementType(input);
    const int threadCount = threadsArgument(threads);
    if (m < 1 || n < 1) {
        fail("the window must span at least one row and one column, got (" + std::to_string(m) +
             ", " + std::to_string(n) + ")");
    }
    if (m > input.shape(0) || n > input.shape(1)) {
        fail("the window (" + std::to_string(m) + ", " + std::to_string(n) +
             ") is larger than the array (" + std::to_string(input.shape(0)) + ", " +
             std::to_string(input.shape(1)) + ")");
    }
    auto [source, layout] = readable(input);
    const std::int64_t rows = input.shape(0) - m + 1;
    const std::int64_t cols = input.shape(1) - n + 1;
    py::array output = allocate(source, rows, cols, layout.rowsAreLines);
    const Layout out{layout.rowsAreLines, layout.rowsAreLines ? cols : rows,
                     layout.rowsAreLines ? rows : cols,
                     (layout.rowsAreLines ? cols : rows) * source.itemsize()};
    const std::int64_t maskWidth = layout.rowsAreLines ? n : m;
    const std::int64_t maskHeight = layout.rowsAreLines ? m : n;
    const ConstPlane src = constPlane(source, layout);
    const Plane dst = plane(output, out);
    {
        py::gil_scoped_release release;
        rankwin::python::medianValid(type, src, dst, maskWidth, maskHeight, threadCount);
    }
    return output;
}

// `output` when the engine can write into it directly: the input's dtype, its
// lines in the input's orientation, writeable, no memory shared with the input.
bool writableInPlace(const py::array& output, const py::array& source, const Layout& layout) {
    if (!output.writeable() || elementTypeOf(output) != elementTypeOf(source)) return false;
    if (output.ndim() != 2 || output.shape(0) != source.shape(0) ||
        output.shape(1) != source.shape(1)) {
        return false;
    }
    const auto outLayout = layoutAs(output, layout.rowsAreLines);
    if (!outLayout) return false;
    // Conservative: any overlap of the two byte ranges counts.
    const std::int64_t E = source.itemsize();
    const auto first = [](const py::array& a) { return reinterpret_cast<std::uintptr_t>(a.data()); };
    const auto span = [E](const Layout& l) {
        return static_cast<std::uintptr_t>((l.height - 1) * l.step + l.width * E);
    };
    return first(output) >= first(source) + span(layout) ||
           first(source) >= first(output) + span(*outLayout);
}

// scipy.ndimage.median_filter's rule; returns `output` when it was written in
// place, otherwise a new array of the input's dtype that the caller copies
// into its output.
py::array medianFilter(const py::array& input, const py::object& output, std::int64_t m,
                       std::int64_t n, std::int64_t shiftRows, std::int64_t shiftCols,
                       const std::string& modeName, double cval, std::optional<int> threads) {
    const ElementType type = requireElementType(input);
    const int threadCount = threadsArgument(threads);
    const Extend mode = extendMode(modeName);
    if (m < 1 || n < 1) {
        fail("the window must span at least one row and one column, got (" + std::to_string(m) +
             ", " + std::to_string(n) + ")");
    }
    if (shiftRows < 0 || shiftRows >= m || shiftCols < 0 || shiftCols >= n) fail("invalid origin");
    auto [source, layout] = readable(input);
    py::array destination;
    if (!output.is_none() && py::isinstance<py::array>(output) &&
        writableInPlace(output.cast<py::array>(), source, layout)) {
        destination = output.cast<py::array>();
    } else {
        destination = allocate(source, source.shape(0), source.shape(1), layout.rowsAreLines);
    }
    const auto destinationLayout = layoutAs(destination, layout.rowsAreLines);
    if (!destinationLayout) {
        throw std::logic_error("rankwin: output layout");  // allocate() always fits
    }
    const std::int64_t maskWidth = layout.rowsAreLines ? n : m;
    const std::int64_t maskHeight = layout.rowsAreLines ? m : n;
    const std::int64_t shiftX = layout.rowsAreLines ? shiftCols : shiftRows;
    const std::int64_t shiftY = layout.rowsAreLines ? shiftRows : shiftCols;
    const ConstPlane src = constPlane(source, layout);
    const Plane dst = plane(destination, *destinationLayout);
    {
        py::gil_scoped_release release;
        rankwin::python::medianExtended(type, src, dst, maskWidth, maskHeight, shiftX, shiftY, mode,
                                        cval, threadCount);
    }
    return destination;
}

double castValue(const py::dtype& dtype, double value) {
    const py::array probe(dtype, std::vector<py::ssize_t>{0});
    const auto type = elementTypeOf(probe);
    if (!type) throw py::type_error("unsupported dtype " + std::string(py::str(static_cast<const py::handle&>(dtype))));
    return rankwin::python::castValue(*type, value);
}

}  // namespace

PYBIND11_MODULE(_rankwin, module) {
    module.doc() = "The median kernels behind rankwin (use the functions of the rankwin package)";
    module.def("median_valid", &medianValid, py::arg("input"), py::arg("m"), py::arg("n"),
               py::arg("threads") = py::none(),
               "The median of every m x n window that lies within the 2-D input.");
    module.def("median_filter", &medianFilter, py::arg("input"), py::arg("output"), py::arg("m"),
               py::arg("n"), py::arg("shift_rows"), py::arg("shift_cols"), py::arg("mode"),
               py::arg("cval"), py::arg("threads") = py::none(),
               "scipy.ndimage.median_filter's rule over a 2-D input; writes into output when "
               "it can, otherwise returns a new array of the input's dtype.");
    module.def("cast_value", &castValue, py::arg("dtype"), py::arg("value"),
               "value converted to dtype as SciPy converts its cval.");
    module.def(
        "extend_index",
        [](std::int64_t index, std::int64_t length, const std::string& mode) -> py::object {
            if (length < 1) fail("the axis is empty");
            const std::int64_t at = rankwin::python::extendIndex(index, length, extendMode(mode));
            return at < 0 ? py::object(py::none()) : py::object(py::int_(at));
        },
        py::arg("index"), py::arg("length"), py::arg("mode"),
        "The index that `index` reads along an axis of `length` elements under `mode`, or "
        "None for the constant.");
    module.def("set_whole_copy_limit", &rankwin::python::setWholeCopyLimit, py::arg("elements"),
               "For tests: arrays whose extended copy has at most this many elements are "
               "filtered whole; returns the previous limit.");
    module.def("thread_count", &rankwin::threadCount,
               "Threads for a large call: RANKWIN_THREADS, else the processors this process may "
               "use.");
    module.attr("THREADED_ELEMENTS") = rankwin::kThreadedElements;
}
