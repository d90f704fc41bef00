"""rankwin.median_filter against scipy.ndimage.median_filter itself, over random cases:
types x every mode x odd, even and rectangular windows x origins x shapes from 1 x 1 up
to windows larger than the array x layouts x output arrays and dtypes x overlap."""

import os
import warnings

import numpy as np
import pytest

import rankwin
from conftest import (DTYPES, LAYOUTS, MODES, in_layout, random_values, reference_filter,
                      scipy_reads_outside)

OUTPUT_DTYPES = [np.bool_, np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32,
                 np.int64, np.uint64, np.float32, np.float64]


def random_case(rng):
    dtype = DTYPES[rng.integers(len(DTYPES))]
    if rng.random() < 0.7:
        shape = tuple(int(x) for x in rng.integers(1, 9, 2))
    else:
        shape = tuple(int(x) for x in rng.integers(9, 48, 2))
    window = [int(x) for x in rng.integers(1, 12, 2)]
    if rng.random() < 0.15:
        window = [int(x) for x in rng.integers(1, 3, 2)]  # k <= 2: SciPy's min/max paths
    if rng.random() < 0.1:
        window = [shape[0] + int(rng.integers(0, 6)), shape[1] + int(rng.integers(0, 6))]
    origins = [int(rng.integers(-(f // 2), (f - 1) // 2 + 1)) for f in window]
    mode = MODES[rng.integers(len(MODES))]
    cval = [0.0, 3.0, -7.5, 300.0, 2.0 ** 17 + 3, -1.0, 1e10, 0.3][rng.integers(8)]
    layout = LAYOUTS[rng.integers(len(LAYOUTS))]
    output = ["none", "none", "dtype", "same", "other", "fortran", "inplace", "shifted",
              "dtype-name"][rng.integers(9)]
    out_dtype = OUTPUT_DTYPES[rng.integers(len(OUTPUT_DTYPES))]
    ties = rng.random() < 0.3
    values = random_values(rng, dtype, shape, ties)
    size_form = ["pair", "footprint", "scalar"][rng.integers(3)]
    if size_form == "scalar" and window[0] != window[1]:
        size_form = "pair"
    return dict(values=values, window=window, origins=origins, mode=mode, cval=cval,
                layout=layout, output=output, out_dtype=out_dtype, size_form=size_form)


def call(function, case, rng_seed):
    """Runs function (ours or SciPy's) on fresh arrays built the same way; returns the
    result and the array that holds it (the output array or the shared base)."""
    rng = np.random.default_rng(rng_seed)
    values = case["values"]
    a = in_layout(rng, values, case["layout"])
    kwargs = dict(mode=case["mode"], cval=case["cval"])
    m, n = case["window"]
    o = case["origins"]
    kwargs["origin"] = o if o[0] != o[1] or m != n else o[0]
    if case["size_form"] == "footprint":
        kwargs["footprint"] = np.ones((m, n), bool)
    else:
        kwargs["size"] = m if case["size_form"] == "scalar" else (m, n)
    kind = case["output"]
    out = None
    if kind == "dtype":
        kwargs["output"] = case["out_dtype"]
    elif kind == "dtype-name":
        kwargs["output"] = np.dtype(case["out_dtype"]).name
    elif kind == "same":
        out = kwargs["output"] = np.full(values.shape, 99, values.dtype)
    elif kind == "other":
        out = kwargs["output"] = np.zeros(values.shape, case["out_dtype"])
    elif kind == "fortran":
        out = kwargs["output"] = np.zeros(values.shape, values.dtype, order="F")
    elif kind == "inplace" and a.dtype.isnative and a.flags.writeable:
        out = kwargs["output"] = a
    elif kind == "shifted":
        # The output is the input moved by one row in one buffer.
        base = np.zeros((values.shape[0] + 1, values.shape[1]), values.dtype)
        base[:-1] = values
        a = base[:-1]
        out = kwargs["output"] = base[1:]
    result = function(a, **kwargs)
    if out is not None:
        assert result is out
    return result


# RANKWIN_TEST_BATCHES=300 for a longer search.
@pytest.mark.parametrize("batch", range(int(os.environ.get("RANKWIN_TEST_BATCHES", "30"))))
def test_random_cases_match_scipy(ndimage, frame, batch):
    rng = np.random.default_rng(1000 + batch)
    for number in range(60):
        case = random_case(rng)
        seed = int(rng.integers(1 << 30))
        shape = case["values"].shape
        description = {k: v for k, v in case.items() if k != "values"}
        description.update(shape=shape, dtype=case["values"].dtype, batch=batch, number=number)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            ours = call(rankwin.median_filter, case, seed)
            if scipy_reads_outside(shape, case["window"], case["origins"], case["mode"]):
                expected = reference_filter(case["values"], case["window"], case["origins"],
                                            case["mode"], case["cval"])
                expected = expected.astype(ours.dtype)
            else:
                expected = call(ndimage.median_filter, case, seed)
        description = repr(description)
        assert ours.dtype == expected.dtype, description
        assert ours.shape == expected.shape, description
        assert np.array_equal(ours, expected), description


def test_reference_agrees_with_scipy(ndimage):
    # The reference that stands in for SciPy where SciPy reads outside its array.
    rng = np.random.default_rng(7)
    for _ in range(300):
        shape = tuple(int(x) for x in rng.integers(1, 7, 2))
        window = [int(x) for x in rng.integers(1, 10, 2)]
        origins = [int(rng.integers(-(f // 2), (f - 1) // 2 + 1)) for f in window]
        mode = MODES[rng.integers(len(MODES))]
        if scipy_reads_outside(shape, window, origins, mode):
            continue
        a = rng.integers(0, 9, shape).astype(np.uint8)
        expected = ndimage.median_filter(a, window, mode=mode, cval=4, origin=origins)
        assert np.array_equal(reference_filter(a, window, origins, mode, 4), expected)


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("mode", MODES)
def test_every_mode_and_type_on_a_medium_array(ndimage, frame, dtype, mode):
    rng = np.random.default_rng(3)
    a = random_values(rng, dtype, (61, 47))
    for window, origin in [((3, 3), 0), ((5, 4), (1, -2)), ((2, 7), (-1, 3)), ((9, 9), -4),
                           ((1, 6), 0), ((15, 2), (7, 0))]:
        expected = ndimage.median_filter(a, window, mode=mode, cval=1.5, origin=origin)
        assert np.array_equal(rankwin.median_filter(a, window, mode=mode, cval=1.5,
                                                    origin=origin), expected), (window, origin)


def test_the_issue_example(ndimage):
    a = np.arange(25, dtype=np.uint8).reshape(5, 5)
    assert np.array_equal(rankwin.median_filter(a, 3), ndimage.median_filter(a, 3))


@pytest.mark.parametrize("dtype", DTYPES)
def test_cval_is_converted_to_the_input_type_first(ndimage, frame, dtype):
    a = np.full((4, 5), 5, dtype)
    for cval in [300, -1, 65541, -70000, 1e10, -1e10, np.inf, -np.inf, 2.7, -2.7, 3e9,
                 2 ** 31, 2 ** 32 + 3, 1e40]:
        for size, origin in [(3, 0), ((1, 2), (0, -1)), ((2, 1), 0), ((2, 2), -1)]:
            for out in [None, np.float64]:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    expected = ndimage.median_filter(a, size, mode="constant", cval=cval,
                                                     origin=origin, output=out)
                    ours = rankwin.median_filter(a, size, mode="constant", cval=cval,
                                                 origin=origin, output=out)
                assert ours.dtype == expected.dtype
                assert np.array_equal(ours, expected), (cval, size, out)


@pytest.mark.parametrize("shape", [(1, 1), (1, 7), (7, 1), (2, 2)])
@pytest.mark.parametrize("mode", MODES)
def test_tiny_arrays_and_huge_windows(ndimage, frame, shape, mode):
    rng = np.random.default_rng(11)
    a = rng.integers(0, 100, shape).astype(np.int16)
    for window in [(1, 1), (3, 3), (9, 2), (2, 9), (17, 13)]:
        origins = (window[0] // 3, -(window[1] // 2))
        expected = ndimage.median_filter(a, window, mode=mode, cval=-3, origin=origins)
        ours = rankwin.median_filter(a, window, mode=mode, cval=-3, origin=origins)
        assert np.array_equal(ours, expected), window


def test_empty_arrays(ndimage):
    for shape in [(0, 5), (5, 0), (0, 0)]:
        a = np.zeros(shape, np.uint16)
        expected = ndimage.median_filter(a, 3)
        ours = rankwin.median_filter(a, 3)
        assert ours.shape == expected.shape and ours.dtype == expected.dtype


def test_lists_and_scalars_of_numpy_types(ndimage):
    a = [[1, 9, 3], [4, 5, 6], [7, 2, 8]]
    expected = ndimage.median_filter(np.asarray(a, np.int16), np.int64(3), origin=np.int8(1))
    ours = rankwin.median_filter(np.asarray(a, np.int16), np.int64(3), origin=np.int8(1))
    assert np.array_equal(ours, expected)


def test_threads_give_the_same_bits(ndimage):
    # Past the threaded size the interior runs in bands; the result never depends on them.
    rng = np.random.default_rng(5)
    a = rng.standard_normal((1100, 1000)).astype(np.float32)
    one = rankwin.median_filter(a, (5, 4), mode="wrap", threads=1)
    for threads in (2, 3, 7):
        assert rankwin.median_filter(a, (5, 4), mode="wrap", threads=threads).tobytes() == \
            one.tobytes()
    assert np.array_equal(one, ndimage.median_filter(a, (5, 4), mode="wrap"))
    f = np.asfortranarray(a)
    assert np.array_equal(rankwin.median_filter(f, (5, 4), mode="wrap", threads=2), one)


def test_fortran_input_gives_fortran_output():
    a = np.asfortranarray(np.arange(60, dtype=np.uint8).reshape(6, 10))
    result = rankwin.median_filter(a, 3)
    assert result.flags.f_contiguous
    assert np.array_equal(result, rankwin.median_filter(np.ascontiguousarray(a), 3))


def test_nan_orders_above_infinity():
    a = np.array([[1, np.nan, np.inf], [2, 3, np.nan], [-np.inf, 5, 6]], np.float32)
    valid = rankwin.median_valid(a, (3, 3))
    # Sorted: -inf 1 2 3 5 6 inf nan nan; rank 4 is 5.
    assert valid[0, 0] == 5
    filtered = rankwin.median_filter(a, (3, 3), mode="constant", cval=np.nan)
    # The centre window is the whole array again.
    assert filtered[1, 1] == 5


@pytest.mark.parametrize("size", [(1, 2), (1, 3), (3, 3)])
def test_out_of_range_values_reach_integer_outputs_as_in_scipy(ndimage, size):
    # Converting such floats is undefined in C; the outputs still match SciPy's build here.
    values = [-5, -1.5, 3.7, 1e19, 2e19, -1e19, 1e30, -1e30, np.inf, -np.inf, 2 ** 31,
              -2 ** 31 - 5, 2 ** 32 + 7, 2 ** 63, -2 ** 63, 3e9, -3e9, 255.9, -0.5, 65535.5]
    a = np.repeat(np.repeat(np.array(values, np.float32), 3)[None, :], 3, axis=0)
    for out in OUTPUT_DTYPES:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            expected = ndimage.median_filter(a, size, output=out)
        assert np.array_equal(rankwin.median_filter(a, size, output=out), expected), out
