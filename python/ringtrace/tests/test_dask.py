"""ringtrace.dask.trace_folders: good, missing, unreadable, refused and crashing folders,
on the local threaded scheduler and on a LocalCluster of two worker processes."""

import json
import os
import shutil
import time

import numpy as np
import pytest
import tifffile

from conftest import make_ring, program

distributed = pytest.importorskip("distributed")
import ringtrace.dask  # noqa: E402


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    """Folders of every kind, and the plain program's new.tif and summary for the good ones."""
    base = tmp_path_factory.mktemp("study")
    good = [make_ring(base / f"good{i}", "--width", 160 + 40 * i, "--height", 120, "--seed", i, *(
        ("--drift", 6) if i % 2 else ())) for i in range(4)]
    unreadable = make_ring(base / "unreadable", "--width", 80, "--height", 60)
    (unreadable / "outx1.tif").write_bytes(b"not a tiff")
    refused = base / "refused"
    refused.mkdir()
    for name in ("outx.tif", "outx1.tif"):
        tifffile.imwrite(refused / name, np.zeros((9, 2, 3), np.uint8), photometric="rgb")
    crash = make_ring(base / "crash", "--width", 80, "--height", 60)
    expected = {}
    for folder in good:
        plain = base / ("plain-" + folder.name)
        shutil.copytree(folder, plain)
        import subprocess
        subprocess.run([program("ringtrace"), "--summary", "s.json"], cwd=plain, check=True)
        expected[str(folder)] = ((plain / "new.tif").read_bytes(), json.loads((plain / "s.json").read_text()))
    folders = [str(good[0]), str(base / "missing"), str(unreadable), str(good[1]), str(refused),
               str(crash), str(good[2]), str(good[3])]
    return base, folders, expected


@pytest.fixture
def wrapper(tmp_path):
    """The program behind a script that logs each run's start and end, sleeps a little so
    that runs overlap when allowed to, and kills itself on the folder named "crash"."""
    log = tmp_path / "runs.log"
    script = tmp_path / "ringtrace-wrapper"
    script.write_text(f"""#!/bin/sh
echo "start $(date +%s.%N)" >> {log}
case "$*" in */crash) echo "end $(date +%s.%N)" >> {log}; kill -SEGV $$ ;; esac
sleep 0.3
"{program('ringtrace')}" "$@"
status=$?
echo "end $(date +%s.%N)" >> {log}
exit $status
""")
    script.chmod(0o755)
    return str(script), log


def most_at_once(log):
    events = sorted((float(t), 1 if kind == "start" else -1) for kind, t in
                    (line.split() for line in log.read_text().splitlines()))
    running = peak = 0
    for _, step in events:
        running += step
        peak = max(peak, running)
    return peak


def check_records(records, folders, expected):
    assert [r["folder"] for r in records] == folders
    by_name = {os.path.basename(r["folder"]): r for r in records}
    for folder, (new_tif, summary) in expected.items():
        r = by_name[os.path.basename(folder)]
        assert (r["status"], r["meaning"]) == (0, "traced"), r
        assert open(os.path.join(folder, "new.tif"), "rb").read() == new_tif
        for key in ("width", "height", "outcome", "iterations", "pathCost", "rowSum", "contour"):
            assert r[key] == summary[key], key
    assert by_name["missing"]["status"] == 64 and "outcome" not in by_name["missing"]
    assert "No such file or directory" in by_name["missing"]["messages"]
    assert by_name["unreadable"]["status"] == 1
    assert by_name["unreadable"]["meaning"] == "error image not read"
    assert by_name["unreadable"]["width"] == 80  # the summary it wrote, with what it read
    assert (by_name["refused"]["status"], by_name["refused"]["meaning"]) == (3, "refused")
    assert "too narrow" in by_name["refused"]["messages"] and "outcome" not in by_name["refused"]
    assert by_name["crash"]["status"] == 4
    assert by_name["crash"]["meaning"].startswith("ended abnormally (killed by signal 11")


def test_threaded_scheduler_with_memory_admission(study, wrapper):
    base, folders, expected = study
    script, log = wrapper
    # Stale summaries from an earlier run must not be taken for this run's.
    (base / "refused" / "summary.json").write_text('{"outcome": "accepted"}')
    records = ringtrace.dask.trace_folders(folders, program=script, jobs=4)
    check_records(records, folders, expected)
    assert most_at_once(log) >= 2
    # A limit below two folders' estimates: one at a time, and every folder still runs.
    log.unlink()
    records = ringtrace.dask.trace_folders(folders, program=script, jobs=4, memory=30 * 2**20)
    check_records(records, folders, expected)
    assert most_at_once(log) == 1


def test_local_cluster_of_two_processes(study, wrapper):
    _, folders, expected = study
    script, log = wrapper
    # Each worker has room for one pair's estimate (about 17 to 20 MiB here) but two threads.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True, dashboard_address=":0",
                                  resources={"memory": 30 * 2**20}) as cluster, \
            distributed.Client(cluster) as client:
        start = time.monotonic()
        records = ringtrace.dask.trace_folders(folders, client=client, program=script)
        assert time.monotonic() - start < 120
        check_records(records, folders, expected)
        assert most_at_once(log) == 2
        # With the program found beside the package, as users run it.
        records = ringtrace.dask.trace_folders(folders[:1], client=client, csv="contour.csv")
        assert records[0]["status"] == 0
        assert os.path.exists(os.path.join(folders[0], "contour.csv"))
