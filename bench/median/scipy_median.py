#!/usr/bin/python3
"""Times scipy.ndimage.median_filter on the picture median_bench uses.

Prints JSON: {"8u/3/3": nanoseconds per output pixel, ...}, keyed by type,
window extent along the lines and across them. Like median_bench it
counts the process's CPU time, so other load on the machine does not count
against SciPy. Large windows run on a crop, since the time per pixel does
not depend on the picture's size.
"""
import json
import sys
import time

import numpy as np
from scipy import ndimage

ROWS, COLUMNS = 512, 768
TYPES = {"8u": (np.uint8, 255.0, 0.0), "16u": (np.uint16, 65535.0, 0.0),
         "16s": (np.int16, 65535.0, -32768.0), "32f": (np.float32, 1.0, 0.0)}
# (along the line, across lines), as median_bench names them.
WINDOWS = [(k, k) for k in (3, 5, 7, 9, 11, 15, 25, 31)] + [
    (3, 7), (7, 3), (4, 4), (2, 6), (1, 9), (9, 1), (1, 25), (25, 1)]


def picture(dtype, scale, offset):
    rng = np.random.default_rng(5)
    r, c = np.mgrid[0:ROWS, 0:COLUMNS]
    v = 0.5 + 0.3 * np.sin(r * 0.02) * np.cos(c * 0.015) + rng.normal(0.0, 0.05, (ROWS, COLUMNS))
    salt = rng.integers(0, 20, (ROWS, COLUMNS)) == 0
    v[salt] = rng.integers(0, 2, salt.sum())
    return (np.clip(v, 0.0, 1.0) * scale + offset).astype(dtype)


def main():
    results = {}
    for name, (dtype, scale, offset) in TYPES.items():
        image = picture(dtype, scale, offset)
        for along, across in WINDOWS:
            count = along * across
            crop = image if count <= 49 else image[:128, :192]
            best = float("inf")
            for _ in range(3 if count <= 81 else 1):
                start = time.process_time()
                # Lines are NumPy rows: the first extent runs along axis 1.
                ndimage.median_filter(crop, size=(across, along))
                best = min(best, time.process_time() - start)
            key = f"{name}/{along}/{across}"
            results[key] = best * 1e9 / crop.size
            print(f"scipy {key}: {results[key]:.1f} ns/pixel", file=sys.stderr)
    json.dump(results, sys.stdout, indent=1)


if __name__ == "__main__":
    main()
