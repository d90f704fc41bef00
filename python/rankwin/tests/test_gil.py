"""The GIL is released while the kernels run: a second Python thread keeps running."""

import threading
import time

import numpy as np

import rankwin


def progress_during(work):
    """Runs work() on a thread; returns how often the main thread looped meanwhile and how
    long the work took."""
    done = threading.Event()
    elapsed = []

    def run():
        start = time.perf_counter()
        work()
        elapsed.append(time.perf_counter() - start)
        done.set()

    worker = threading.Thread(target=run)
    loops = 0
    worker.start()
    while not done.is_set():
        loops += 1
    worker.join()
    return loops, elapsed[0]


def big_call(function):
    rng = np.random.default_rng(2)
    a = rng.standard_normal((2500, 2500)).astype(np.float32)
    return lambda: function(a)


def test_median_filter_releases_the_gil():
    # A 31 x 31 float window over 6.25 million elements: a few hundred milliseconds.
    loops, elapsed = progress_during(big_call(
        lambda a: rankwin.median_filter(a, 31, mode="wrap", threads=1)))
    assert elapsed > 0.05
    # Held by the extension, the GIL would stop the main thread for the whole call (no
    # bytecode runs there to hand it over); free, the loop turns over a million times a
    # second here, and far more than the bound even on a loaded machine.
    assert loops > 100000 * elapsed, (loops, elapsed)


def test_median_valid_releases_the_gil():
    loops, elapsed = progress_during(big_call(
        lambda a: rankwin.median_valid(a, (31, 31), threads=1)))
    assert elapsed > 0.05
    assert loops > 100000 * elapsed, (loops, elapsed)


def test_two_threads_filter_at_once_and_agree():
    rng = np.random.default_rng(4)
    a = rng.integers(0, 256, (700, 600)).astype(np.uint8)
    expected = rankwin.median_filter(a, (9, 7), mode="mirror")
    results = [None] * 4

    def run(i):
        results[i] = rankwin.median_filter(a, (9, 7), mode="mirror", threads=2)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert np.array_equal(r, expected)
