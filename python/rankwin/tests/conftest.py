"""Shared helpers: an independent reference of scipy.ndimage.median_filter's rule, and
random arrays in every layout the functions read."""

import numpy as np
import pytest

DTYPES = [np.uint8, np.uint16, np.int16, np.float32]
MODES = ["reflect", "grid-mirror", "mirror", "nearest", "wrap", "grid-wrap", "constant",
         "grid-constant"]


@pytest.fixture(params=["strips", "whole"])
def frame(request):
    """Runs a test twice: small arrays filtered as interior and border strips (as large ones
    are), and extended whole (the default for small ones)."""
    from rankwin import _rankwin
    previous = _rankwin.set_whole_copy_limit(0 if request.param == "strips" else 1 << 16)
    yield request.param
    _rankwin.set_whole_copy_limit(previous)


@pytest.fixture(scope="session")
def ndimage():
    return pytest.importorskip("scipy.ndimage")


def extend_index(index, length, mode):
    """Where SciPy's filters read input index `index` along an axis of `length`: the
    documented extensions, periodic beyond the array; None for the constant."""
    if 0 <= index < length:
        return index
    if mode in ("constant", "grid-constant"):
        return None
    if mode == "nearest":
        return 0 if index < 0 else length - 1
    if length == 1:
        return 0
    if mode in ("wrap", "grid-wrap"):
        return index % length
    if mode in ("reflect", "grid-mirror"):
        p = index % (2 * length)
        return p if p < length else 2 * length - 1 - p
    if mode == "mirror":
        p = index % (2 * length - 2)
        return p if p < length else 2 * length - 2 - p
    raise ValueError(mode)


def reference_valid(a, m, n):
    """The median of every m x n window of a: sort and take rank k // 2 (NaN sorts last)."""
    windows = np.lib.stride_tricks.sliding_window_view(a, (m, n))
    flat = windows.reshape(windows.shape[0], windows.shape[1], m * n)
    return np.sort(flat, axis=-1)[:, :, (m * n) // 2]


def reference_filter(a, window, origins, mode, cval):
    """scipy.ndimage.median_filter's rule, written from its documentation."""
    a = np.asarray(a)
    m, n = window
    s, t = m // 2 + origins[0], n // 2 + origins[1]
    R, C = a.shape
    rows = [extend_index(i, R, mode) for i in range(-s, R - s + m - 1)]
    cols = [extend_index(j, C, mode) for j in range(-t, C - t + n - 1)]
    constant = np.array(cval).astype(a.dtype)
    row_index = np.array([r if r is not None else 0 for r in rows])
    col_index = np.array([c if c is not None else 0 for c in cols])
    padded = a[np.ix_(row_index, col_index)]
    outside = np.logical_or.outer([r is None for r in rows], [c is None for c in cols])
    padded = np.where(outside, constant, padded).astype(a.dtype)
    return reference_valid(padded, m, n)


def scipy_reads_outside(shape, window, origins, mode):
    """SciPy 1.10's "reflect" reads before the array (NI_InitFilterOffsets maps index
    -2 * q * length, q >= 2, to -1) when a window reaches 4 * length or more before an
    axis' start: such results are compared with the reference instead."""
    if mode not in ("reflect", "grid-mirror"):
        return False
    return any(length >= 2 and f // 2 + o >= 4 * length
               for length, f, o in zip(shape, window, origins))


def random_values(rng, dtype, shape, ties=False):
    dtype = np.dtype(dtype)
    if ties:
        return rng.integers(0, 4, shape).astype(dtype)
    if dtype.kind == "f":
        values = (rng.standard_normal(shape) * 1000).astype(dtype)
        special = rng.random(shape)
        values[special < 0.02] = np.inf
        values[(special >= 0.02) & (special < 0.04)] = -np.inf
        values[(special >= 0.04) & (special < 0.06)] = 0.0
        return values
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, shape, endpoint=True).astype(dtype)


def in_layout(rng, values, layout):
    """values (a C array) as an array of the same contents in `layout`."""
    R, C = values.shape
    if layout == "C":
        return values.copy()
    if layout == "F":
        return np.asfortranarray(values)
    if layout == "rows":  # a slice of a wider C array: rows contiguous, a longer step
        base = np.zeros((R + 2, C + 5), values.dtype)
        base[1:R + 1, 2:C + 2] = values
        return base[1:R + 1, 2:C + 2]
    if layout == "columns":  # a slice of a taller Fortran array
        base = np.zeros((R + 7, C + 1), values.dtype, order="F")
        base[3:R + 3, :C] = values
        return base[3:R + 3, :C]
    if layout == "strided":  # neither order: copied once
        base = np.zeros((2 * R, 3 * C), values.dtype)
        base[::2, ::3] = values
        return base[::2, ::3]
    if layout == "reversed":
        return values[::-1].copy()[::-1]
    if layout == "swapped":  # non-native byte order
        return values.astype(values.dtype.newbyteorder("S"))
    raise ValueError(layout)


LAYOUTS = ["C", "F", "rows", "columns", "strided", "reversed", "swapped"]
