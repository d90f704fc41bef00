"""rankwin.median_valid against a plain sort, in every layout, and bit for bit against the
rankwin plug-in called by hvhost."""

import os
import pathlib
import struct
import subprocess

import numpy as np
import pytest

import rankwin
from conftest import DTYPES, LAYOUTS, in_layout, random_values, reference_valid


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("layout", LAYOUTS)
def test_valid_matches_a_sort(dtype, layout):
    rng = np.random.default_rng(21)
    for _ in range(25):
        shape = tuple(int(x) for x in rng.integers(1, 40, 2))
        window = (int(rng.integers(1, shape[0] + 1)), int(rng.integers(1, shape[1] + 1)))
        values = random_values(rng, dtype, shape, ties=rng.random() < 0.3)
        if np.dtype(dtype).kind == "f":
            values[rng.random(shape) < 0.05] = np.nan
        a = in_layout(rng, values, layout)
        result = rankwin.median_valid(a, window)
        expected = reference_valid(values, *window)
        assert result.dtype == values.dtype.newbyteorder("=")
        assert np.array_equal(result, expected, equal_nan=True), (shape, window)


def test_valid_reads_c_and_fortran_in_place_and_keeps_the_order():
    a = np.arange(48, dtype=np.uint16).reshape(6, 8)
    c = rankwin.median_valid(a, (3, 2))
    f = rankwin.median_valid(np.asfortranarray(a), (3, 2))
    assert c.flags.c_contiguous and f.flags.f_contiguous
    assert np.array_equal(c, f)
    assert rankwin.median_valid(a, 1).base is None  # a new array, not a view of a


def test_threads_give_the_same_bits():
    rng = np.random.default_rng(8)
    a = rng.integers(0, 65536, (1200, 900)).astype(np.uint16)
    one = rankwin.median_valid(a, (7, 6), threads=1)
    for threads in (2, 5):
        assert rankwin.median_valid(a, (7, 6), threads=threads).tobytes() == one.tobytes()
    os.environ["RANKWIN_THREADS"] = "3"
    try:
        assert rankwin.median_valid(a, (7, 6)).tobytes() == one.tobytes()
    finally:
        del os.environ["RANKWIN_THREADS"]


# A single-strip, uncompressed, single-sample TIFF: what hvhost reads and writes.
_FORMATS = {np.dtype(np.uint8): 1, np.dtype(np.uint16): 1, np.dtype(np.int16): 2,
            np.dtype(np.float32): 3}


def write_tiff(path, a):
    a = np.ascontiguousarray(a)
    rows, cols = a.shape
    data = a.astype(a.dtype.newbyteorder("<")).tobytes()
    entries = [(256, 4, cols), (257, 4, rows), (258, 3, a.dtype.itemsize * 8), (259, 3, 1),
               (262, 3, 1), (273, 4, 0), (277, 3, 1), (278, 4, rows), (279, 4, len(data)),
               (284, 3, 1), (339, 3, _FORMATS[a.dtype])]
    data_offset = 8 + 2 + 12 * len(entries) + 4
    ifd = struct.pack("<H", len(entries))
    for tag, kind, value in entries:
        value = data_offset if tag == 273 else value
        packed = struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, 1) + packed
    path.write_bytes(b"II*\0" + struct.pack("<I", 8) + ifd + struct.pack("<I", 0) + data)


def read_tiff(path):
    blob = path.read_bytes()
    assert blob[:4] == b"II*\0"
    (offset,) = struct.unpack_from("<I", blob, 4)
    (count,) = struct.unpack_from("<H", blob, offset)
    tags = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack_from("<HHII", blob, offset + 2 + 12 * i)
        size = {3: 2, 4: 4}[kind]
        code = {3: "H", 4: "I"}[kind]
        where = offset + 2 + 12 * i + 8 if n * size <= 4 else value
        tags[tag] = struct.unpack_from(f"<{n}{code}", blob, where)
    assert tags.get(259, (1,))[0] == 1
    bits, fmt = tags[258][0], tags.get(339, (1,))[0]
    dtype = {(8, 1): "<u1", (16, 1): "<u2", (16, 2): "<i2", (32, 3): "<f4"}[(bits, fmt)]
    data = b"".join(blob[o:o + c] for o, c in zip(tags[273], tags[279]))
    return np.frombuffer(data, dtype).reshape(tags[257][0], tags[256][0])


def build_dir():
    build = os.environ.get("RT_BUILD_DIR")
    if not build or not (pathlib.Path(build) / "bin" / "hvhost").exists():
        pytest.skip("needs RT_BUILD_DIR with bin/hvhost and lib/rankwin.so (run through CTest)")
    return pathlib.Path(build)


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("window", [(3, 3), (4, 2), (1, 7), (9, 5), (45, 33)])
def test_bit_for_bit_what_the_plugin_returns(tmp_path, dtype, window):
    build = build_dir()
    rng = np.random.default_rng(DTYPES.index(dtype) * 10000 + window[0] * 100 + window[1])
    a = random_values(rng, dtype, (57, 45))
    if np.dtype(dtype).kind == "f":
        a[rng.random(a.shape) < 0.03] = np.nan
        a[rng.random(a.shape) < 0.03] = -0.0
    write_tiff(tmp_path / "in.tif", a)
    # The plug-in by its path, and (the second time) by its name.
    for plugin in (str(build / "lib" / "rankwin.so"), "rankwin"):
        subprocess.run([str(build / "bin" / "hvhost"), plugin, str(tmp_path / "in.tif"),
                        str(window[0]), str(window[1]), str(tmp_path / "out.tif")], check=True)
        theirs = read_tiff(tmp_path / "out.tif")
        ours = rankwin.median_valid(a, window)
        assert theirs.shape == ours.shape
        assert theirs.tobytes() == ours.astype(ours.dtype.newbyteorder("<")).tobytes()
