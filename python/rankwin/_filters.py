"""median_valid and median_filter: NumPy arrays in, the median kernels run without the GIL.

The argument rules follow scipy.ndimage.median_filter (SciPy 1.10) step by step, so that
the function is a drop-in: the same results, the same output arrays and, for bad
arguments, exceptions of the classes SciPy raises (ours also derive from ValueError or
TypeError, with messages that say what was wrong).
"""

import math
import operator
import platform
import warnings
from collections.abc import Iterable

import numpy as np

from . import _rankwin

# The element types the kernels take.
SUPPORTED_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16),
                    np.dtype(np.float32))

# scipy.ndimage's border modes; each alias reads the same samples as its partner in a filter.
MODES = ("reflect", "grid-mirror", "mirror", "nearest", "wrap", "grid-wrap", "constant",
         "grid-constant")
_CONSTANT_MODES = ("constant", "grid-constant")

_SUPPORTED_TEXT = ("2-D arrays of uint8, uint16, int16 or float32 with a rectangular window "
                   "(size, or an all-True footprint) and a single mode")


class ArgumentError(ValueError, RuntimeError):
    """A bad argument value. Also a RuntimeError, which SciPy raises for these cases."""


class UnsupportedError(TypeError, RuntimeError):
    """A call that needs SciPy, which is not installed. Also a RuntimeError, as SciPy's
    "array type not supported"."""


def _scipy_ndimage():
    try:
        from scipy import ndimage
    except ImportError:
        return None
    return ndimage


def _normalize_sequence(value, rank, name):
    # scipy.ndimage._ni_support._normalize_sequence, with a message naming the argument.
    if not isinstance(value, str) and isinstance(value, Iterable):
        values = list(value)
        if len(values) != rank:
            raise ArgumentError(
                f"sequence argument must have length equal to input rank: {name} has "
                f"{len(values)} elements for a {rank}-D input")
        return values
    return [value] * rank


def _integer(value, name):
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(
            f"{name} must be integers, got {value!r} of type {type(value).__name__}") from None


def _window(size, name="size"):
    sizes = [_integer(s, name) for s in _normalize_sequence(size, 2, name)]
    if any(s < 0 for s in sizes):
        raise ValueError(f"{name} must be positive, got {tuple(sizes)}")
    if any(s == 0 for s in sizes):
        raise ArgumentError(f"{name} must be at least 1 along each axis, got {tuple(sizes)}")
    return sizes


def _native(array):
    """array in native byte order (one copy when it is byte-swapped)."""
    if array.dtype.byteorder not in "=|":
        return array.astype(array.dtype.newbyteorder("="))
    return array


def _ours(dtype):
    return dtype.newbyteorder("=") in SUPPORTED_DTYPES


def _output_dtype_ours(dtype):
    # The output types SciPy fills: bool, integers of up to 64 bits, float32, float64.
    return dtype.kind in "biu" or (dtype.kind == "f" and dtype.itemsize in (4, 8))


def _cval(value):
    # SciPy hands cval to C as a double ("d"), which takes numbers, not strings.
    if isinstance(value, (str, bytes, bytearray)):
        raise TypeError(f"cval must be a real number, not {type(value).__name__}")
    try:
        return float(value)
    except (TypeError, ValueError):
        raise TypeError(f"cval must be a real number, not {type(value).__name__}") from None


def median_valid(a, window, *, threads=None):
    """The median of every window that lies wholly inside a 2-D array.

    a: 2-D array of uint8, uint16, int16 or float32. Read in place when its rows or its
       columns are contiguous (C order, Fortran order, or a slice of either along its
       outer axis); copied once otherwise.
    window: (m, n), rows and columns (an int means a square window).
    threads: threads for a large call (at least 1); None takes RANKWIN_THREADS, else every
       processor this process may use. Arrays below a million elements use one thread.
       The result is the same to the bit whatever the number.

    Returns an array of shape (rows - m + 1, cols - n + 1) and a's dtype (Fortran order
    when a is read as Fortran order): element (i, j) is the median of a[i:i+m, j:j+n], the
    element of rank k // 2 of the k = m * n sorted values (the upper median for even k),
    bit for bit what the rankwin plug-in returns. For float32 NaN orders above +inf, and
    -0 below +0. The GIL is released while the kernels run.

    Raises TypeError for another dtype, ValueError for another number of dimensions,
    a window that is not positive or larger than the array, or an array beyond the
    kernels' 32-bit sizes and steps.
    """
    array = np.asarray(a)
    if array.ndim != 2:
        raise ValueError(f"median_valid takes a 2-D array, got {array.ndim} dimensions")
    if not _ours(array.dtype):
        raise TypeError(f"median_valid takes uint8, uint16, int16 or float32, got {array.dtype}")
    m, n = _window(window, "window")
    return _rankwin.median_valid(_native(array), m, n, threads)


def _get_output(output, array):
    # scipy.ndimage._ni_support._get_output for real data; None stands for "allocate it".
    if output is None:
        return None
    if isinstance(output, (type, np.dtype)):
        return np.dtype(output)
    if isinstance(output, str):
        return np.dtype(np.sctypeDict[output])
    if output.shape != array.shape:
        raise ArgumentError(
            f"output shape not correct: {output.shape} for an input of {array.shape}")
    return output


def _handled(array, output):
    """Whether we filter this call ourselves (else it goes to SciPy)."""
    if array.ndim != 2 or not _ours(array.dtype):
        return False
    if output is None:
        return True
    try:
        if isinstance(output, (type, np.dtype)):
            dtype = np.dtype(output)
        elif isinstance(output, str):
            dtype = np.dtype(np.sctypeDict[output])
        elif isinstance(output, np.ndarray):
            dtype = output.dtype
        else:
            return False
    except (TypeError, KeyError):
        return False
    return _output_dtype_ours(dtype)


def _rectangle(footprint):
    """The footprint's shape when it is an all-True 2-D rectangle, else None."""
    try:
        footprint = np.asarray(footprint, dtype=bool)
    except (TypeError, ValueError):
        return None
    if footprint.ndim != 2 or footprint.size == 0 or not footprint.all():
        return None
    return list(footprint.shape)


_X86 = platform.machine().lower() in ("x86_64", "amd64", "i386", "i686")


def _truncate(values, bits):
    """values (float64) converted to an integer of `bits` bits as x86's cvttsd2si does:
    toward zero, and the type's smallest value for NaN and everything out of range."""
    low, high = -2.0 ** (bits - 1), 2.0 ** (bits - 1)
    inside = (values >= low) & (values < high)
    whole = np.trunc(np.where(inside, values, 0.0)).astype(np.int64)
    return np.where(inside, whole, np.int64(-(2 ** 63) if bits == 64 else -(2 ** 31)))


def _c_convert(values, dtype, negate_unsigned64=True):
    """float64 values converted to the integer dtype (bool: to its byte) as the C cast
    (type)value compiles on x86-64, which SciPy's C code does; NumPy's own conversion of
    out-of-range values differs (it may saturate or use other instructions). Negative
    values beyond int64 go to uint64 in two ways there: as -(uint64)(-value) in the rank
    filter, through the int64 conversion in the line filters (negate_unsigned64=False)."""
    if not _X86:
        return values.astype(np.uint8 if dtype.kind == "b" else dtype)
    if dtype.kind == "b":
        return _truncate(values, 32).astype(np.uint8)
    if dtype.itemsize <= 2 or (dtype.itemsize == 4 and dtype.kind == "i"):
        return _truncate(values, 32).astype(dtype)
    if dtype.itemsize == 4 or dtype.kind == "i":  # uint32 through 64 bits, int64
        return _truncate(values, 64).astype(dtype)
    # uint64: values from 2 ** 63 up are shifted down, converted, and get the top bit back;
    # negative values are converted as -(uint64)(-value), modulo 2 ** 64.
    def unsigned(v):
        high = _truncate(v - 2.0 ** 63, 64).view(np.uint64) ^ np.uint64(1 << 63)
        return np.where(v >= 2.0 ** 63, high, _truncate(v, 64).view(np.uint64))

    if not negate_unsigned64:
        return unsigned(values)
    negative = values < 0
    return np.where(negative, np.uint64(0) - unsigned(np.where(negative, -values, 0.0)),
                    unsigned(np.where(negative, 0.0, values)))


def _fill(output, result, numpy_cast=False, line_filter=False):
    """output[...] = result, converted as SciPy's C code converts: (type)(double)value, with
    npy_bool an unsigned char (so a bool output receives the value's low byte). SciPy
    copies a 1 x 1 window's input with NumPy instead (numpy_cast), and takes windows of two
    elements to its line filters (line_filter)."""
    if output.dtype == result.dtype or numpy_cast:
        np.copyto(output, result, casting="unsafe")
        return
    target = output.view(np.uint8) if output.dtype.kind == "b" else output
    if result.dtype.kind == "f" and output.dtype.kind in "biu":
        converted = _c_convert(result.astype(np.float64), output.dtype.newbyteorder("="),
                               negate_unsigned64=not line_filter)
        np.copyto(target, converted, casting="unsafe")
    else:
        np.copyto(target, result, casting="unsafe")


def _two_element_max(array, window, shifts, cval):
    # SciPy takes a window of two elements to maximum_filter1d, whose line buffer holds
    # doubles: there the constant is compared as given, not converted to the input's type.
    axis = 0 if window[0] == 2 else 1
    pad = [(0, 0), (0, 0)]
    pad[axis] = (shifts[axis], 1 - shifts[axis])
    padded = np.pad(array.astype(np.float64), pad, constant_values=cval)
    if axis == 0:
        return np.maximum(padded[:-1], padded[1:])
    return np.maximum(padded[:, :-1], padded[:, 1:])


def _delegate(what, *args):
    ndimage = _scipy_ndimage()
    if ndimage is None:
        raise UnsupportedError(
            f"rankwin.median_filter filters {_SUPPORTED_TEXT}; {what} needs SciPy "
            "(scipy.ndimage.median_filter), which is not installed")
    return ndimage.median_filter(*args)


def median_filter(input, size=None, footprint=None, output=None, mode="reflect", cval=0.0,
                  origin=0, *, threads=None):
    """scipy.ndimage.median_filter for 2-D arrays, on the rankwin median kernels.

    Same signature, results and output arrays as SciPy's function (1.10). For a 2-D array
    of uint8, uint16, int16 or float32 and a rectangular window (size, or an all-True
    footprint) the kernels do the work, threaded, with the GIL released; every other call
    (other dtypes, other footprints, other dimensions, a sequence of modes) goes to SciPy
    when it is installed, and raises a TypeError naming what is supported when it is not.

    input: the array. size: scalar or (rows, cols). footprint: all True, the same as size.
    output: an array of the input's shape (any dtype SciPy fills: bool, integers, float32,
        float64; filled by a cast) or a dtype; it may share memory with the input.
    mode: "reflect" (dcba|abcd|dcba, also "grid-mirror"), "mirror" (dcb|abcd|cba),
        "nearest", "wrap" (also "grid-wrap"), "constant" (also "grid-constant") with cval
        converted to the input's type first. The extension repeats for windows larger than
        the array; along an axis of length 1 every outside sample is its one element.
    origin: scalar or one per axis; output i along an axis reads input
        i - (f // 2 + origin) + j, j = 0 .. f - 1, and -(f // 2) <= origin <= (f - 1) // 2.
    threads: as in median_valid (a keyword of ours; SciPy has none).

    The median is the element of rank k // 2 of the k sorted values in the window (the
    upper median for even k). Only a frame around the array is copied for the borders:
    the interior is filtered in place, so the full result costs about what median_valid
    costs. For a Fortran-ordered input the new output array is Fortran-ordered.

    NaN: SciPy's result near a NaN depends on where the NaN sits (its selection is not
    defined for unordered values); here NaN orders above +inf, as in every rankwin
    function. The results are identical to SciPy's for arrays without NaN.

    Where SciPy 1.10 itself reads outside the array ("reflect" with a window reaching more
    than four times an axis' length beyond its start), this function extends periodically,
    as SciPy documents.
    """
    array = np.asarray(input)
    if np.iscomplexobj(array):
        raise TypeError("Complex type not supported")
    args = (input, size, footprint, output, mode, cval, origin)
    if not _handled(array, output):
        what = (f"a {array.ndim}-D array" if array.ndim != 2 else
                f"dtype {array.dtype}" if not _ours(array.dtype) else f"output {output!r}")
        return _delegate(what, *args)
    if not isinstance(mode, str):
        return _delegate("a sequence of modes", *args)
    if footprint is not None:
        window = _rectangle(footprint)
        if window is None:
            return _delegate("a footprint that is not an all-True 2-D rectangle", *args)
        if size is not None:
            warnings.warn("ignoring size because footprint is set", UserWarning, stacklevel=2)
    elif size is None:
        raise ArgumentError("no footprint or filter size provided")

    origins = [_integer(o, "origin") for o in _normalize_sequence(origin, 2, "origin")]
    if footprint is None:
        window = _window(size)
    for o, f in zip(origins, window):
        if f // 2 + o < 0 or f // 2 + o >= f:
            raise ValueError(f"invalid origin: {tuple(origins)} for a window of {tuple(window)}"
                             f" (each must lie in -(f // 2) .. (f - 1) // 2)")
    target = _get_output(output, array)
    if mode not in MODES:
        raise ArgumentError(f"boundary mode not supported: {mode!r} (one of {', '.join(MODES)})")
    if isinstance(target, np.ndarray) and not target.flags.writeable:
        raise ValueError("output array is read-only.")
    value = _cval(cval)
    array = _native(array)
    shifts = [f // 2 + o for f, o in zip(window, origins)]

    if window == [1, 1] or array.size == 0:
        # SciPy copies the input with NumPy here (minimum_filter of one element), which
        # converts differently from its C code; so do we, from the array as given.
        result = np.asarray(input)
        if not isinstance(target, np.ndarray):
            out = np.empty(array.shape, dtype=array.dtype if target is None else target)
            np.copyto(out, result, casting="unsafe")
            return out
    elif (window[0] * window[1] == 2 and mode in _CONSTANT_MODES and
          not math.isnan(value) and _rankwin.cast_value(array.dtype, value) != value):
        result = _two_element_max(array, window, shifts, value)
    else:
        result = _rankwin.median_filter(
            array, target if isinstance(target, np.ndarray) else None, window[0], window[1],
            shifts[0], shifts[1], mode, value, threads)

    if isinstance(target, np.ndarray):
        if result is not target:
            _fill(target, result, numpy_cast=window == [1, 1],
                  line_filter=window[0] * window[1] == 2)
        return target
    wanted = array.dtype if target is None else target
    if result.dtype != wanted:  # another output dtype, or the two-element path's doubles
        out = np.empty(array.shape, dtype=wanted)
        _fill(out, result, line_filter=window[0] * window[1] == 2)
        return out
    return result
