"""rankwin.dask.median_filter: the NumPy function's result on the whole array, whatever
the chunks, on Dask's threaded scheduler and on a cluster of two worker processes."""

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
import dask  # noqa: E402

import rankwin  # noqa: E402
import rankwin.dask  # noqa: E402
from conftest import DTYPES, MODES, random_values  # noqa: E402

# Chunks smaller than the window's reach, single rows, uneven chunks, one chunk.
CHUNKINGS = [(7, 5), (3, 2), (1, 24), (24, 24), ((10, 1, 13), (2, 20, 2))]


@pytest.mark.parametrize("mode", MODES)
def test_every_chunking_gives_the_numpy_result(mode):
    rng = np.random.default_rng(MODES.index(mode))
    a = random_values(rng, np.int16, (24, 24), ties=True)
    for size, origin in [(3, 0), ((5, 4), (1, -2)), ((2, 9), (0, 4)), ((11, 1), (-5, 0)),
                         ((1, 2), 0)]:
        expected = rankwin.median_filter(a, size, mode=mode, cval=-2, origin=origin)
        for chunks in CHUNKINGS:
            x = da.from_array(a, chunks=chunks)
            y = rankwin.dask.median_filter(x, size, mode=mode, cval=-2, origin=origin)
            got = y.compute(scheduler="threads")
            assert got.dtype == a.dtype
            assert np.array_equal(got, expected), (size, origin, chunks)


@pytest.mark.parametrize("dtype", DTYPES)
def test_types_windows_larger_than_the_array_and_wrap(dtype):
    rng = np.random.default_rng(9)
    a = random_values(rng, dtype, (9, 13))
    for size, mode in [((13, 17), "wrap"), ((20, 3), "reflect"), ((4, 30), "mirror"),
                       ((9, 13), "grid-wrap"), ((2, 1), "constant")]:
        expected = rankwin.median_filter(a, size, mode=mode, cval=300.5)
        for chunks in [(2, 3), (9, 13), (4, 5)]:
            y = rankwin.dask.median_filter(da.from_array(a, chunks=chunks), size, mode=mode,
                                           cval=300.5)
            assert np.array_equal(y.compute(scheduler="threads"), expected), (size, chunks)


def test_matches_scipy_on_a_larger_array(ndimage):
    rng = np.random.default_rng(12)
    a = rng.standard_normal((300, 260)).astype(np.float32)
    x = da.from_array(a, chunks=(64, 100))
    for size, mode in [(5, "wrap"), ((7, 4), "reflect"), (3, "constant")]:
        y = rankwin.dask.median_filter(x, size, mode=mode, cval=0.5)
        assert y.chunks == x.chunks
        assert np.array_equal(y.compute(), ndimage.median_filter(a, size, mode=mode, cval=0.5))


def test_bad_arguments_are_refused_when_called():
    x = da.zeros((10, 10), dtype=np.uint8, chunks=5)
    with pytest.raises(TypeError, match="float64"):
        rankwin.dask.median_filter(x.astype(np.float64), 3)
    with pytest.raises(ValueError, match="2-D"):
        rankwin.dask.median_filter(da.zeros((4, 4, 4), chunks=2, dtype=np.uint8), 3)
    with pytest.raises(ValueError, match="at least 1"):
        rankwin.dask.median_filter(x, 0)
    with pytest.raises(ValueError, match="invalid origin"):
        rankwin.dask.median_filter(x, 3, origin=2)
    with pytest.raises(ValueError, match="mode"):
        rankwin.dask.median_filter(x, 3, mode="nope")


@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_on_a_local_cluster_of_two_worker_processes():
    distributed = pytest.importorskip("distributed")
    rng = np.random.default_rng(6)
    a = rng.integers(0, 65536, (600, 500)).astype(np.uint16)
    expected = rankwin.median_filter(a, (5, 6), mode="wrap")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, host="127.0.0.1") as cluster, \
            distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        y = rankwin.dask.median_filter(da.from_array(a, chunks=(128, 160)), (5, 6), mode="wrap")
        with distributed.get_task_stream(client) as stream:
            got = client.compute(y).result()
        # Both workers filtered chunks.
        assert len({task["worker"] for task in stream.data}) == 2
    assert np.array_equal(got, expected)


def test_the_default_scheduler_too():
    a = np.arange(400, dtype=np.float32).reshape(20, 20)
    with dask.config.set(scheduler="sync"):
        y = rankwin.dask.median_filter(da.from_array(a, chunks=6), 3, mode="nearest")
        assert np.array_equal(y.compute(), rankwin.median_filter(a, 3, mode="nearest"))
