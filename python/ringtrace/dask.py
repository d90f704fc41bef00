"""Folders of a study on a Dask cluster: one task per folder, each task the program's run
in that folder, exactly as ``ringtrace --summary summary.json FOLDER`` does it (in a
process of its own, so a folder that fails or crashes stops nothing else).

    >>> from distributed import Client, LocalCluster
    >>> cluster = LocalCluster(n_workers=2, threads_per_worker=2, resources={"memory": 8e9})
    >>> records = ringtrace.dask.trace_folders(folders, client=Client(cluster))

Memory: each task declares the batch runner's estimate of its peak (from the images'
headers) as the Dask resource named `memory_resource` ("memory"), so that on workers
started with that resource (``dask worker --resources memory=8e9``, or ``resources=`` of
a LocalCluster, in bytes) pairs run side by side only while their estimates fit. A pair
larger than every worker's figure runs alone on the largest. On a cluster whose workers
do not all declare the resource, tasks are scheduled by threads alone. Without a client
the local threaded scheduler runs the folders, with the same admission against `memory`
(default: half the physical memory).
"""

import json
import os
import shutil
import signal
import subprocess
import threading

from . import _tracer

__all__ = ["trace_folders"]

_MEANINGS = {0: "traced", 1: "error image not read", 2: "output not written", 3: "refused",
             4: "ended abnormally", 64: "usage error"}


def find_program():
    """The ringtrace program beside this package (build tree or installed prefix), else
    $RINGTRACE_PROGRAM, else the one on PATH."""
    if os.environ.get("RINGTRACE_PROGRAM"):
        return os.environ["RINGTRACE_PROGRAM"]
    here = os.path.dirname(os.path.abspath(__file__))
    for candidate in (os.path.join(here, "..", "..", "bin", "ringtrace"),               # build/python/ringtrace
                      os.path.join(here, "..", "..", "..", "..", "bin", "ringtrace")):  # PREFIX/lib/python3/dist-packages
        if os.access(candidate, os.X_OK):
            return os.path.normpath(candidate)
    return shutil.which("ringtrace") or "ringtrace"


def _identity(path):
    try:
        st = os.stat(path)
        return (st.st_dev, st.st_ino, st.st_mtime_ns, st.st_size)
    except OSError:
        return None


def trace_one(folder, summary="summary.json", csv=None, program=None):
    """Runs the program on one folder; returns its record (never raises)."""
    record = {"folder": folder, "status": 4, "meaning": "ended abnormally", "messages": ""}
    try:
        where = os.path.abspath(folder)
        command = [program or find_program()]
        if summary:
            command += ["--summary", summary]
        if csv:
            command += ["--csv", csv]
        command += ["--", where]
        summary_path = os.path.join(where, summary) if summary else None
        before = _identity(summary_path) if summary_path else None
        done = subprocess.run(command, capture_output=True, text=True, errors="replace")
        record["messages"] = done.stderr
        if done.returncode < 0:
            sig = -done.returncode
            record["meaning"] = f"ended abnormally (killed by signal {sig}, {signal.strsignal(sig)})"
            return record
        record["status"] = done.returncode
        record["meaning"] = _MEANINGS.get(done.returncode, "failed")
        for line in done.stdout.splitlines():  # the batch's result line, "DIR: RESULT"
            if line.startswith(where + ": "):
                record["meaning"] = line[len(where) + 2:]
        # The summary is read only when this run wrote it: a summary left by an earlier run
        # describes another new.tif.
        if summary_path and done.returncode in (0, 1) and _identity(summary_path) not in (None, before):
            with open(summary_path) as f:
                figures = json.load(f)
            for key in ("status", "meaning"):
                figures.pop(key, None)
            record.update(figures)
    except Exception as e:  # a record, never an exception: the other folders go on
        record["messages"] += f"{type(e).__name__}: {e}\n"
        record["meaning"] = f"ended abnormally ({type(e).__name__}: {e})"
    return record


def _peak(folder):
    try:
        return int(_tracer.folder_peak_bytes(os.path.abspath(folder)))
    except Exception:
        return int(_tracer.folder_peak_bytes(""))


class _MemoryGate:
    """The batch runner's admission: a folder starts only while the estimates of the
    running ones, its own included, fit the limit; one always starts when none runs."""

    def __init__(self, limit):
        self.limit = limit
        self.in_use = 0
        self.running = 0
        self.cond = threading.Condition()

    def run(self, peak, work):
        with self.cond:
            self.cond.wait_for(lambda: self.running == 0 or self.in_use + peak <= self.limit)
            self.in_use += peak
            self.running += 1
        try:
            return work()
        finally:
            with self.cond:
                self.in_use -= peak
                self.running -= 1
                self.cond.notify_all()


def _half_physical_memory():
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") // 2


def trace_folders(folders, client=None, summary="summary.json", csv=None, *, program=None,
                  memory_resource="memory", memory=None, jobs=None):
    """Traces every folder as ``ringtrace --summary SUMMARY [--csv CSV] FOLDER`` does,
    one Dask task each, and returns one record per folder in the order given: a dict with
    "folder" (as given), "status" and "meaning" (the program's exit status and its
    meaning, "ended abnormally (...)" for a crash), "messages" (its standard error), and
    the summary's members (width, height, outcome, iterations, pathCost, ...) when the run
    wrote one. A failed or crashed folder is reported in its record, never raised.

    client: a distributed.Client; None runs the local threaded scheduler with `jobs`
    threads (default: one per processor) and the memory admission against `memory`
    bytes (default: half the physical memory). program: the ringtrace program to run
    (default: the one installed beside this package)."""
    folders = [os.fspath(f) for f in folders]
    peaks = [_peak(f) for f in folders]
    if client is None:
        import dask

        gate = _MemoryGate(memory if memory is not None else _half_physical_memory())
        tasks = [dask.delayed(gate.run, pure=False)(peak, _bind(folder, summary, csv, program))
                 for folder, peak in zip(folders, peaks)]
        return list(dask.compute(*tasks, scheduler="threads", num_workers=jobs or os.cpu_count()))

    workers = client.scheduler_info().get("workers", {}).values()
    capacities = [w.get("resources", {}).get(memory_resource) for w in workers]
    use_resource = bool(capacities) and all(c is not None for c in capacities)
    futures = []
    for folder, peak in zip(folders, peaks):
        options = {"pure": False}
        if use_resource:
            options["resources"] = {memory_resource: min(peak, max(capacities))}
        futures.append(client.submit(trace_one, folder, summary, csv, program, **options))
    records = []
    for folder, future in zip(folders, futures):
        try:
            records.append(future.result())
        except Exception as e:  # the worker itself died (KilledWorker) or the task was lost
            records.append({"folder": folder, "status": 4, "messages": f"{type(e).__name__}: {e}\n",
                            "meaning": f"ended abnormally ({type(e).__name__}: {e})"})
    return records


def _bind(folder, summary, csv, program):
    return lambda: trace_one(folder, summary, csv, program)
