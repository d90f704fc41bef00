"""Bad input never crashes the interpreter: each case is a ValueError or a TypeError with a
message saying what was wrong, and, where SciPy raises too, an instance of SciPy's class."""

import numpy as np
import pytest

import rankwin
from rankwin import _filters

A = np.arange(30, dtype=np.uint8).reshape(5, 6)


def read_only(shape=(5, 6), dtype=np.uint8):
    out = np.zeros(shape, dtype)
    out.flags.writeable = False
    return out


# (arguments, keywords, expected class, a word the message must hold)
FILTER_ERRORS = [
    ((A,), dict(size=0), ValueError, "at least 1"),
    ((A,), dict(size=(3, 0)), ValueError, "at least 1"),
    ((A,), dict(size=-1), ValueError, "positive"),
    ((A,), dict(size=2.5), TypeError, "integer"),
    ((A,), dict(size=(3, 3, 3)), ValueError, "length"),
    ((A,), dict(), ValueError, "no footprint or filter size"),
    ((A,), dict(size=3, origin=2), ValueError, "invalid origin"),
    ((A,), dict(size=(3, 4), origin=(0, -3)), ValueError, "invalid origin"),
    ((A,), dict(size=3, origin=(1, 0, 0)), ValueError, "length"),
    ((A,), dict(size=3, origin=0.5), TypeError, "integer"),
    ((A,), dict(size=3, output=np.zeros((5, 5), np.uint8)), ValueError, "shape"),
    ((A,), dict(size=3, output=read_only()), ValueError, "read-only"),
    ((A,), dict(size=3, mode="reflective"), ValueError, "mode"),
    ((A,), dict(size=3, mode="constant", cval="x"), TypeError, "real number"),
    ((A,), dict(size=3, cval=None), TypeError, "real number"),
    ((A.astype(np.complex64),), dict(size=3), TypeError, "Complex"),
    ((A,), dict(size=(70000, 70000)), ValueError, "32-bit"),
]


@pytest.mark.parametrize("args,kwargs,expected,word", FILTER_ERRORS)
def test_median_filter_errors(args, kwargs, expected, word):
    with pytest.raises(expected, match=word):
        rankwin.median_filter(*args, **kwargs)


@pytest.mark.parametrize("args,kwargs,expected,word", FILTER_ERRORS)
def test_median_filter_errors_are_scipys_classes_too(ndimage, args, kwargs, expected, word):
    if kwargs.get("size") == (70000, 70000):
        pytest.skip("SciPy would allocate a footprint of 4.9e9 elements")
    with pytest.raises(Exception) as theirs:
        ndimage.median_filter(*args, **kwargs)
    with pytest.raises(Exception) as ours:
        rankwin.median_filter(*args, **kwargs)
    assert isinstance(ours.value, type(theirs.value)), (ours.value, theirs.value)


NEEDS_SCIPY = [
    ((A.astype(np.float64),), dict(size=3), "float64"),
    ((A.astype(np.int32),), dict(size=3), "int32"),
    ((A.astype(bool),), dict(size=3), "bool"),
    ((A.reshape(5, 6, 1),), dict(size=3), "3-D"),
    ((A[0],), dict(size=3), "1-D"),
    ((A,), dict(footprint=[[1, 0], [1, 1]]), "footprint"),
    ((A,), dict(size=3, mode=["reflect", "wrap"]), "modes"),
    ((A,), dict(size=3, output=np.float16), "float16"),
]


@pytest.mark.parametrize("args,kwargs,word", NEEDS_SCIPY)
def test_without_scipy_unsupported_calls_raise_type_errors(monkeypatch, args, kwargs, word):
    monkeypatch.setattr(_filters, "_scipy_ndimage", lambda: None)
    with pytest.raises(TypeError, match=word) as error:
        rankwin.median_filter(*args, **kwargs)
    assert "uint8, uint16, int16 or float32" in str(error.value)
    assert "SciPy" in str(error.value)


@pytest.mark.parametrize("args,kwargs,word", NEEDS_SCIPY)
def test_with_scipy_unsupported_calls_go_to_scipy(ndimage, args, kwargs, word):
    try:
        expected = ndimage.median_filter(*args, **kwargs)
    except Exception as error:  # SciPy's own refusal (float16 output) comes through
        with pytest.raises(type(error)):
            rankwin.median_filter(*args, **kwargs)
        return
    assert np.array_equal(rankwin.median_filter(*args, **kwargs), expected)


def test_without_scipy_the_supported_calls_still_work(monkeypatch, ndimage):
    with pytest.warns(UserWarning, match="ignoring size"):
        expected = ndimage.median_filter(A, 3, footprint=np.ones((3, 2)), mode="wrap")
    monkeypatch.setattr(_filters, "_scipy_ndimage", lambda: None)
    with pytest.warns(UserWarning, match="ignoring size"):
        ours = rankwin.median_filter(A, 3, footprint=np.ones((3, 2)), mode="wrap")
    assert np.array_equal(ours, expected)


def huge(shape):
    return np.broadcast_to(np.zeros((1, 1), np.uint8), shape)


VALID_ERRORS = [
    ((A[0], 1), {}, ValueError, "2-D"),
    ((A.reshape(5, 6, 1), 1), {}, ValueError, "2-D"),
    ((A.astype(np.float64), 3), {}, TypeError, "float64"),
    ((A.astype(bool), 3), {}, TypeError, "bool"),
    ((np.array([["a", "b"]]), 1), {}, TypeError, "uint8"),
    ((A, 0), {}, ValueError, "at least 1"),
    ((A, (3, -1)), {}, ValueError, "positive"),
    ((A, (2.0, 3)), {}, TypeError, "integer"),
    ((A, (1, 2, 3)), {}, ValueError, "length"),
    ((A, (6, 3)), {}, ValueError, "larger than the array"),
    ((A, (5, 7)), {}, ValueError, "larger than the array"),
    ((np.zeros((0, 4), np.uint8), 1), {}, ValueError, "larger than the array"),
    ((A, 3), dict(threads=0), ValueError, "threads"),
    ((A, 3), dict(threads=-2), ValueError, "threads"),
    ((huge((3, 2 ** 31)), 1), {}, ValueError, "32-bit"),
    ((huge((2 ** 31, 2)), 1), {}, ValueError, "32-bit"),
]


@pytest.mark.parametrize("args,kwargs,expected,word", VALID_ERRORS)
def test_median_valid_errors(args, kwargs, expected, word):
    with pytest.raises(expected, match=word):
        rankwin.median_valid(*args, **kwargs)


def test_huge_broadcast_arrays_are_refused_before_any_copy():
    with pytest.raises(ValueError, match="32-bit"):
        rankwin.median_filter(huge((3, 2 ** 31)), 3)
    with pytest.raises(ValueError, match="32-bit"):
        rankwin.median_filter(huge((2 ** 31, 2)), (1, 2))


def test_the_module_checks_what_it_relies_on():
    # The extension's own functions never trust the Python layer.
    from rankwin import _rankwin
    with pytest.raises(ValueError, match="origin"):
        _rankwin.median_filter(A, None, 3, 3, 3, 0, "reflect", 0.0)
    with pytest.raises(ValueError, match="mode"):
        _rankwin.median_filter(A, None, 3, 3, 1, 1, "other", 0.0)
    with pytest.raises(TypeError, match="dtype"):
        _rankwin.median_valid(A.astype(np.int32), 1, 1)
    with pytest.raises(ValueError, match="at least one"):
        _rankwin.median_filter(A, None, 0, 3, 0, 0, "reflect", 0.0)
    # A bad output array is never written: a fresh array comes back instead.
    out = np.zeros((5, 5), np.uint8)
    result = _rankwin.median_filter(A, out, 3, 3, 1, 1, "reflect", 0.0)
    assert result is not out and result.shape == A.shape and not out.any()
    result = _rankwin.median_filter(A, A, 3, 3, 1, 1, "reflect", 0.0)
    assert result is not A
