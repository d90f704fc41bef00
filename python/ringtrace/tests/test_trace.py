"""ringtrace.trace, trace_files and trace_folder against the program on the same pixels."""

import os

import numpy as np
import pytest
import tifffile

import ringtrace
from conftest import make_ring, run_program

# The bundled example, closed rings and spiral turns (searches of many iterations).
RINGS = [
    ("example", ()),
    ("closed-256", ("--width", 256, "--height", 256, "--seed", 7)),
    ("closed-720x400", ("--width", 720, "--height", 400, "--seed", 3)),
    ("spiral-256-d5", ("--width", 256, "--height", 256, "--drift", 5)),
    ("spiral-256-d10", ("--width", 256, "--height", 256, "--drift", 10, "--seed", 11)),
    ("spiral-720x400", ("--width", 720, "--height", 400, "--drift", 5)),
    ("spiral-300x500", ("--width", 300, "--height", 500, "--drift", 12, "--seed", 5)),
    ("spiral-400x300-d30", ("--width", 400, "--height", 300, "--drift", 30, "--seed", 4)),
    ("spiral-200x600-d60", ("--width", 200, "--height", 600, "--drift", 60, "--seed", 9)),
    ("small-40x30", ("--width", 40, "--height", 30, "--seed", 2)),
    # No support anywhere: never accepted, the search is cut short by its bound.
    ("no-support-60x40", ("--width", 60, "--height", 40, "--seed", 5)),
]

FIGURES = {"width": "width", "height": "height", "status": "status", "meaning": "meaning",
           "outcome": "outcome", "iterations": "iterations", "evaluations": "evaluations",
           "shortestPathRuns": "shortest_path_runs", "pathCost": "path_cost", "rowSum": "row_sum",
           "entryRow": "entry_row", "exitRow": "exit_row", "markedPixels": "marked_pixels"}


def assert_same_as_program(trace, run):
    """Every figure of the summary, the contour, and the picture of new.tif."""
    s = run.summary
    for key, name in FIGURES.items():
        assert getattr(trace, name) == s[key], key
    assert trace.interval == (tuple(s["interval"]) if s["interval"] is not None else None)
    for key, name in (("dispersion", "dispersion"), ("secondaryMean", "secondary_mean")):
        if s[key] is None:
            assert getattr(trace, name) is None
        else:  # single-precision values: the summary prints the shortest exact form
            assert np.float32(getattr(trace, name)) == np.float32(s[key]), key
    assert trace.contour.dtype == np.int32 and trace.contour.shape == (len(run.csv), 2)
    assert trace.contour.tolist() == [list(p) for p in run.csv] == s["contour"]
    assert trace.marks.shape == (trace.height, trace.width) and trace.marks.dtype == np.uint8
    rows = trace.new_tif_rows()
    assert rows.flags.c_contiguous
    assert rows.tobytes() in run.new_tif  # new.tif is uncompressed, one row per strip, in order
    assert np.array_equal(tifffile.imread(_new_tif_path(run)), rows)


def _new_tif_path(run):
    return run.folder_new_tif


@pytest.fixture(scope="module")
def rings(tmp_path_factory):
    """Each ring's folder and the program's run there."""
    base = tmp_path_factory.mktemp("rings")
    out = {}
    for name, args in RINGS:
        folder = make_ring(base / name, *args)
        if name.startswith("no-support"):
            zero = np.zeros_like(tifffile.imread(folder / "outx1.tif"))
            tifffile.imwrite(folder / "outx1.tif", zero, photometric="rgb")
        run = run_program(folder)
        run.folder_new_tif = os.path.join(folder, "new.tif")
        out[name] = (folder, run)
    return out


@pytest.mark.parametrize("name", [name for name, _ in RINGS])
def test_identity_with_the_program(rings, name, fresh_copy):
    folder, run = rings[name]
    assert run.status == 0
    primary = tifffile.imread(folder / "outx.tif")
    secondary = tifffile.imread(folder / "outx1.tif")
    assert_same_as_program(ringtrace.trace(primary, secondary), run)
    assert_same_as_program(ringtrace.trace_files(folder / "outx.tif", folder / "outx1.tif"), run)
    # Writing: the very bytes of the program's new.tif, and nothing else in the folder.
    copy = fresh_copy(folder)
    assert_same_as_program(ringtrace.trace_folder(copy, write=True), run)
    assert sorted(os.listdir(copy)) == ["new.tif", "outx.tif", "outx1.tif"]
    assert (copy / "new.tif").read_bytes() == run.new_tif
    # The program's reader gives the pixels tifffile gives for these plain files, and a
    # Trace saves the program's new.tif.
    assert np.array_equal(ringtrace.read_image(folder / "outx.tif"), primary[..., :3])
    ringtrace.trace(primary, secondary).save(copy / "saved.tif")
    assert (copy / "saved.tif").read_bytes() == run.new_tif
    if name.startswith("spiral"):
        assert run.summary["iterations"] >= 6
    if name.startswith("no-support"):
        assert run.summary["outcome"] == "cut short"


def test_any_memory_layout_and_alpha(rings):
    """C, Fortran, strided and reversed views, and a fourth channel (ignored, like the
    alpha the program's reader drops) all trace as the C-ordered RGB array does."""
    folder, run = rings["spiral-256-d5"]
    p = tifffile.imread(folder / "outx.tif")
    s = tifffile.imread(folder / "outx1.tif")
    h, w, _ = p.shape
    rng = np.random.default_rng(1)

    def with_alpha(a):
        return np.concatenate([a, rng.integers(0, 256, (h, w, 1), dtype=np.uint8)], axis=2)

    def strided(a):  # every other element of a larger buffer
        big = np.zeros((2 * h, 3 * w, 2 * a.shape[2]), np.uint8)
        big[::2, ::3, ::2] = a
        return big[::2, ::3, ::2]

    def reversed_view(a):  # negative strides on every axis
        return np.ascontiguousarray(a[::-1, ::-1, ::-1])[::-1, ::-1, ::-1]

    layouts = [np.asfortranarray, strided, reversed_view, with_alpha,
               lambda a: strided(with_alpha(a)), lambda a: a.transpose(1, 0, 2).copy().transpose(1, 0, 2)]
    for layout in layouts:
        pv, sv = layout(p), layout(s)
        assert np.array_equal(pv[..., :3], p)
        assert_same_as_program(ringtrace.trace(pv, sv), run)


def test_wrong_arrays_raise(rings):
    folder, _ = rings["small-40x30"]
    p = tifffile.imread(folder / "outx.tif")
    with pytest.raises(TypeError, match="uint8"):
        ringtrace.trace(p.astype(np.uint16), p)
    with pytest.raises(TypeError, match="uint8"):
        ringtrace.trace(p, p.astype(np.float32))
    for bad in (p[..., 0], p[..., :2], p[None], np.zeros((30, 40, 5), np.uint8)):
        with pytest.raises(ValueError, match="shape"):
            ringtrace.trace(bad, p)
    with pytest.raises(ValueError, match="same size"):
        ringtrace.trace(p, p[:-1])
    with pytest.raises(ValueError, match="empty"):
        ringtrace.trace(p[:0], p[:0])
    with pytest.raises(ValueError, match="too narrow"):
        ringtrace.trace(p[:7, :2], p[:7, :2])
    # More than 2^25 pixels: refused before anything is allocated (a broadcast array of
    # one pixel costs no memory).
    huge = np.broadcast_to(np.zeros(3, np.uint8), (5793, 5793, 3))
    with pytest.raises(ValueError, match="larger than the 33554432 pixels"):
        ringtrace.trace(huge, huge)
    # Sizes the program traces without a contour are traced the same way here.
    tiny = np.zeros((5, 2, 3), np.uint8)
    t = ringtrace.trace(tiny, tiny)
    assert t.outcome != "accepted" and t.contour.shape == (0, 2) and (t.marks == 120).all()


def test_unreadable_files(rings, fresh_copy):
    folder, _ = rings["small-40x30"]
    # A secondary image that is not a TIFF: an exception in the program's words, naming
    # the file; with partial=True the program's own result on the same folder.
    copy = fresh_copy(folder)
    (copy / "outx1.tif").write_bytes(b"II*\0 not a tiff at all")
    with pytest.raises(ringtrace.ImageNotReadError, match="error image not read: .*outx1.tif") as e:
        ringtrace.trace_folder(copy, write=True)
    assert isinstance(e.value, OSError)
    assert "outx.tif" not in str(e.value).replace("outx1.tif", "")
    assert sorted(os.listdir(copy)) == ["outx.tif", "outx1.tif"]
    t = ringtrace.trace_folder(copy, write=True, partial=True)
    written = (copy / "new.tif").read_bytes()
    run = run_program(copy)
    assert run.status == 1 and run.stdout == "error image not read\n"
    assert t.status == 1 and t.meaning == "error image not read"
    assert written == run.new_tif
    run.folder_new_tif = copy / "new.tif"
    assert_same_as_program(t, run)

    # A missing primary image: nothing to trace at all, whatever `partial` says.
    missing = fresh_copy(folder)
    os.remove(missing / "outx.tif")
    for partial in (False, True):
        with pytest.raises(ringtrace.ImageNotReadError, match="error image not read: .*outx.tif"):
            ringtrace.trace_folder(missing, write=True, partial=partial)
    assert not (missing / "new.tif").exists()
    with pytest.raises(ringtrace.ImageNotReadError, match="nowhere.tif"):
        ringtrace.trace_files(folder / "outx.tif", folder / "nowhere.tif")
    with pytest.raises(ringtrace.ImageNotReadError, match="error image not read: .*outx1.tif"):
        ringtrace.read_image(copy / "outx1.tif")


def test_refused_and_unwritable(tmp_path, rings, fresh_copy):
    narrow = tmp_path / "narrow"
    narrow.mkdir()
    for name in ("outx.tif", "outx1.tif"):
        tifffile.imwrite(narrow / name, np.zeros((9, 2, 3), np.uint8), photometric="rgb")
    with pytest.raises(ValueError, match="2 x 9 pixels is too narrow"):
        ringtrace.trace_folder(narrow, write=True)
    assert not (narrow / "new.tif").exists()

    # new.tif cannot be replaced (a folder of that name): an OSError, nothing left behind.
    folder, _ = rings["small-40x30"]
    copy = fresh_copy(folder)
    (copy / "new.tif").mkdir()
    with pytest.raises(OSError, match="new.tif"):
        ringtrace.trace_folder(copy, write=True)
    assert sorted(os.listdir(copy)) == ["new.tif", "outx.tif", "outx1.tif"]
    assert os.listdir(copy / "new.tif") == []
