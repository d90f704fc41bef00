"""Ctrl-C and the GIL: a long trace runs with the GIL released and stops on
KeyboardInterrupt, leaving no file behind."""

import os
import signal
import threading
import time

import pytest
import tifffile

import ringtrace
from conftest import make_ring


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    """A 4096 x 4096 pair: about a second of tracing."""
    folder = make_ring(tmp_path_factory.mktemp("large") / "ring", "--width", 4096, "--height", 4096)
    return folder, tifffile.imread(folder / "outx.tif"), tifffile.imread(folder / "outx1.tif")


@pytest.fixture
def sigint_raises():
    """Python's own SIGINT handler, even where the test runs as a background job (which
    starts with SIGINT ignored)."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


def interrupt_after(seconds):
    """Sends this process SIGINT after `seconds`, as Ctrl-C in a terminal does."""
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


def test_gil_released_during_the_trace(large):
    _, p, s = large
    result = []
    worker = threading.Thread(target=lambda: result.append(ringtrace.trace(p, s)))
    ticks = 0
    start = time.monotonic()
    worker.start()
    while worker.is_alive():  # pure Python: runs only while the trace does not hold the GIL
        ticks += 1
        time.sleep(0.002)
    elapsed = time.monotonic() - start
    assert result and result[0].outcome == "accepted"
    # Holding the GIL, the trace would have let this loop run a handful of times at most.
    assert ticks >= min(50, elapsed / 0.002 / 10)


def test_keyboard_interrupt_stops_the_trace(large, sigint_raises):
    folder, p, s = large
    start = time.monotonic()
    full = ringtrace.trace(p, s)
    duration = time.monotonic() - start
    assert full.outcome == "accepted"

    for call in (lambda: ringtrace.trace(p, s), lambda: ringtrace.trace_folder(folder, write=True)):
        timer = interrupt_after(duration / 4)
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            call()
        stopped = time.monotonic() - start
        timer.join()
        # Stopped before a whole trace could have ended (how quickly: see the benchmarks).
        assert stopped < duration
    assert sorted(os.listdir(folder)) == ["outx.tif", "outx1.tif"]
    # The package is usable again, and Ctrl-C still reaches Python afterwards.
    assert ringtrace.trace(p[:300, :300], s[:300, :300]).width == 300
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
