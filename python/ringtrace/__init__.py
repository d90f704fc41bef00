"""The ring tracer on arrays and files.

    >>> import ringtrace, tifffile
    >>> t = ringtrace.trace(tifffile.imread("outx.tif"), tifffile.imread("outx1.tif"))
    >>> t.outcome, t.contour[:3]

`trace` takes the two images as (height, width, 3) or (height, width, 4) uint8 arrays, top
row first, as tifffile or imageio read an RGB(A) TIFF; `trace_files` and `trace_folder`
read TIFFs through the program's own reader. Each returns a `Trace` holding what the
program's ``--summary`` holds, the contour, and the picture of ``new.tif``. The results
are the program's to the bit for the same pixels.

The search runs with the GIL released; Ctrl-C (KeyboardInterrupt) stops it within a
fraction of a second and leaves no partial file. Folders on a cluster: `ringtrace.dask`.
"""

from dataclasses import dataclass
import os

import numpy as np

from ._tracer import ImageNotReadError, OutputNotWrittenError, MAX_PIXELS
from . import _tracer

__all__ = ["trace", "read_image", "trace_files", "trace_folder", "Trace", "ImageNotReadError",
           "OutputNotWrittenError", "MAX_PIXELS"]

PRIMARY = "outx.tif"
SECONDARY = "outx1.tif"
OUTPUT = "new.tif"


@dataclass(frozen=True, eq=False)
class Trace:
    """One traced pair. The figures are the ``--summary`` members under Python names;
    those of the contour (interval to secondary_mean) are None when nothing was accepted.

    contour: (N, 2) int32 array of [column, row], rows counted from the top of the inputs,
        from the sink end to the source end (the order of the program's CSV).
    marks: (height, width) uint8 picture, 160 on the contour and 120 elsewhere, top row
        first like the inputs: ``new.tif`` holds it mirrored (see new_tif_rows).
    status, meaning: 0 "traced", or 1 "error image not read" after a partial read.
    """

    width: int
    height: int
    status: int
    meaning: str
    outcome: str  # "accepted", "exhausted" or "cut short"
    iterations: int
    evaluations: int
    shortest_path_runs: int
    interval: tuple | None
    path_cost: int | None
    row_sum: int | None
    entry_row: int | None
    exit_row: int | None
    dispersion: float | None  # single-precision values, exactly
    secondary_mean: float | None
    marked_pixels: int
    contour: np.ndarray
    marks: np.ndarray

    def new_tif_rows(self):
        """The picture exactly as ``new.tif`` stores it: rows mirrored top to bottom, as a
        C-contiguous (height, width) uint8 array (its bytes are new.tif's pixel data)."""
        return np.ascontiguousarray(self.marks[::-1])

    def save(self, path):
        """Writes the picture to `path` exactly as the program writes new.tif (8-bit grey,
        rows mirrored, one row per strip; a temporary file renamed into place)."""
        _tracer.write_marks(os.fspath(path), np.ascontiguousarray(self.marks))

    def __repr__(self):
        return (f"Trace({self.width} x {self.height}, {self.outcome}, "
                f"{self.iterations} iterations, {self.marked_pixels} marked pixels)")


def _trace(result):
    return Trace(**result)


def trace(primary, secondary):
    """Traces a pair held in memory: `primary` (red weight, green and blue orientation)
    and `secondary` (red support), each a (height, width, 3 or 4) uint8 array, top row
    first, in any memory order or strides. Raises TypeError for another dtype, ValueError
    for another shape, two sizes, or a size the program refuses (more than MAX_PIXELS
    pixels, fewer than 3 columns with 7 or more rows)."""
    return _trace(_tracer.trace_arrays(np.asanyarray(primary), np.asanyarray(secondary)))


def read_image(path):
    """One TIFF as the program's reader decodes it (libtiff's RGBA reader, any layout,
    compression or bit depth it takes; alpha dropped): a (height, width, 3) uint8 array,
    top row first, ready for `trace`. Raises ImageNotReadError when it cannot be read."""
    return _tracer.read_image(os.fspath(path))


def trace_files(primary_path, secondary_path, partial=False):
    """Reads the two TIFFs through the program's reader and traces them. A file that
    cannot be read raises ImageNotReadError ("error image not read: NAME"); with
    partial=True the trace goes on with what was read, as the program does, and the
    Trace's status is 1. A size the program refuses raises ValueError."""
    return _trace(_tracer.trace_files(os.fspath(primary_path), os.fspath(secondary_path), None, partial))


def trace_folder(path=".", write=False, partial=False):
    """Traces outx.tif and outx1.tif in the folder `path`, as the program does there.
    With write=True it writes new.tif (and nothing else) exactly as the program does:
    complete or not at all. Errors as in trace_files; OutputNotWrittenError (an OSError)
    when new.tif cannot be written."""
    path = os.fspath(path)
    output = os.path.join(path, OUTPUT) if write else None
    return _trace(_tracer.trace_files(os.path.join(path, PRIMARY), os.path.join(path, SECONDARY),
                                      output, partial))
