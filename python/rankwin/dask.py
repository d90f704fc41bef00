"""rankwin.median_filter for dask arrays: the NumPy function's result, chunk by chunk.

    import rankwin.dask
    y = rankwin.dask.median_filter(x, 5, mode="wrap")     # x a 2-D dask.array

The true edges of the array are extended first (by our modes, from whichever chunks hold
the samples: "wrap" takes the far edge, as the usual map_overlap recipe does not), as a
frame of small pieces; then map_overlap hands every chunk its neighbours' rows and columns
within the window's reach, and each chunk is filtered over its "valid" region on one thread,
so that Dask's own workers are not oversubscribed. The result is identical to
rankwin.median_filter (and so to scipy.ndimage.median_filter) on the whole array, whatever
the chunks, chunks smaller than the window included (those are merged with their
neighbours first, as map_overlap needs).
"""

import dask.array as da
import numpy as np
from dask.array.overlap import ensure_minimum_chunksize

from . import _filters, _rankwin

__all__ = ["median_filter"]


def _valid_block(block, window):
    return _rankwin.median_valid(np.ascontiguousarray(block), window[0], window[1], threads=1)


def _two_element_block(block, window, target):
    # A window of two elements with a constant the input type cannot hold: SciPy compares
    # the constant as a double (see rankwin._filters._two_element_max).
    if window[0] == 2:
        result = np.maximum(block[:-1], block[1:])
    else:
        result = np.maximum(block[:, :-1], block[:, 1:])
    if target.kind == "f":
        return result.astype(target)
    return _filters._c_convert(result, target)


def _extend(x, axis, before, after, mode, constant):
    """x with `before` and `after` samples added along `axis` by `mode`."""
    length = x.shape[axis]
    pieces = []
    for indices in (range(-before, 0), range(length, length + after)):
        if len(indices) == 0:
            pieces.append(None)
            continue
        if mode in _filters._CONSTANT_MODES:
            shape = list(x.shape)
            shape[axis] = len(indices)
            pieces.append(da.full(shape, constant, dtype=x.dtype))
        else:
            where = np.array([_rankwin.extend_index(i, length, mode) for i in indices])
            pieces.append(x[where] if axis == 0 else x[:, where])
    parts = [p for p in (pieces[0], x, pieces[1]) if p is not None]
    return da.concatenate(parts, axis=axis) if len(parts) > 1 else x


def median_filter(x, size, mode="reflect", cval=0.0, origin=0):
    """scipy.ndimage.median_filter's result for a 2-D dask array of uint8, uint16, int16 or
    float32, computed chunk by chunk with map_overlap.

    size: scalar or (rows, cols); mode, cval, origin: as rankwin.median_filter. Returns a
    dask array of x's dtype, with x's chunks (chunks shorter than the window's reach are
    merged with their neighbours). Raises TypeError for other dtypes and ValueError for
    other dimensions and bad arguments, when called (not when computed).
    """
    x = da.asarray(x)
    if x.ndim != 2:
        raise ValueError(f"rankwin.dask.median_filter takes a 2-D array, got {x.ndim} dimensions")
    if not _filters._ours(x.dtype):
        raise TypeError("rankwin.dask.median_filter takes uint8, uint16, int16 or float32, "
                        f"got {x.dtype}")
    dtype = x.dtype.newbyteorder("=")
    if dtype != x.dtype:
        x = x.astype(dtype)
    window = _filters._window(size)
    origins = [_filters._integer(o, "origin")
               for o in _filters._normalize_sequence(origin, 2, "origin")]
    for o, f in zip(origins, window):
        if f // 2 + o < 0 or f // 2 + o >= f:
            raise ValueError(f"invalid origin: {tuple(origins)} for a window of {tuple(window)}")
    if not isinstance(mode, str) or mode not in _filters.MODES:
        raise _filters.ArgumentError(
            f"boundary mode not supported: {mode!r} (one of {', '.join(_filters.MODES)})")
    value = _filters._cval(cval)
    if x.size == 0 or window == [1, 1]:
        return x.copy()

    before = [f // 2 + o for f, o in zip(window, origins)]
    after = [f - 1 - b for f, b in zip(window, before)]
    two_element = (window[0] * window[1] == 2 and mode in _filters._CONSTANT_MODES and
                   not np.isnan(value) and _rankwin.cast_value(dtype, value) != value)
    constant = value if two_element else _rankwin.cast_value(dtype, value)
    source = x.astype(np.float64) if two_element else x

    # Output chunks: x's, merged where a chunk is shorter than the reach of the window,
    # which map_overlap takes from one neighbour.
    chunks = []
    for axis in (0, 1):
        reach = max(before[axis], after[axis])
        sizes = x.chunks[axis]
        if reach > min(sizes):
            sizes = ensure_minimum_chunksize(reach, sizes) if sum(sizes) >= reach else (sum(sizes),)
        chunks.append(tuple(sizes))
    source = source.rechunk(tuple(chunks))
    for axis in (0, 1):
        source = _extend(source, axis, before[axis], after[axis], mode, constant)
    # The frame joins the first and last chunks, so each chunk plus what map_overlap adds
    # from its neighbours is exactly what its windows read.
    framed = []
    for axis in (0, 1):
        sizes = list(chunks[axis])
        sizes[0] += before[axis]
        sizes[-1] += after[axis]
        framed.append(tuple(sizes))
    source = source.rechunk(tuple(framed))
    depth = {axis: (before[axis], after[axis]) for axis in (0, 1)}
    if two_element:
        function, keywords = _two_element_block, dict(window=window, target=dtype)
    else:
        function, keywords = _valid_block, dict(window=window)
    return da.map_overlap(function, source, depth=depth, boundary="none", trim=False,
                          allow_rechunk=False, chunks=tuple(chunks), dtype=dtype,
                          meta=np.empty((0, 0), dtype), **keywords)
