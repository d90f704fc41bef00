"""rankwin: 2-D median filters on the rankwin median kernels, for NumPy and Dask arrays.

median_valid(a, window)   the median of every window inside a 2-D array ("valid" region),
                          bit for bit what the rankwin plug-in returns
median_filter(input, ...) a drop-in for scipy.ndimage.median_filter on 2-D arrays
rankwin.dask              median_filter for dask arrays (import rankwin.dask)

uint8, uint16, int16 and float32; threaded, with the GIL released while the kernels run.
"""

from ._filters import (MODES, SUPPORTED_DTYPES, ArgumentError, UnsupportedError,
                       median_filter, median_valid)
from ._rankwin import thread_count

__all__ = ["median_valid", "median_filter", "thread_count", "MODES", "SUPPORTED_DTYPES",
           "ArgumentError", "UnsupportedError"]
