"""The ringtrace Python package against the program, and on Dask.

    /usr/bin/python3 bench/python/tracer_bench.py --build BUILD [--parts arrays,interrupt,dask]

arrays: ringtrace.trace on arrays in memory against the program on the same pair, end to
    end in its own process, minus its file reading and writing (measured in-process with
    the program's own reader and writer: read_image twice, Trace.save once); medians of
    --repeat runs, taking turns.
interrupt: how long after SIGINT a 5792 x 5792 trace ends in KeyboardInterrupt, with the
    signal sent at several points of the trace.
dask: 16 folders of 1024 x 1024 rings through ringtrace.dask.trace_folders on a
    LocalCluster of one and of two worker processes, taking turns, with the batch
    runner's own -j 1 and -j 2 as the reference.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def processor_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def make_ring(build, folder, *args):
    subprocess.run([os.path.join(build, "bin", "make_ring"), "--out", folder, *map(str, args)], check=True,
                   stdout=subprocess.DEVNULL)
    return folder


def bench_arrays(build, scratch, repeat):
    import ringtrace

    program = os.path.join(build, "bin", "ringtrace")
    print("\n| ring | program end to end ms | reading ms | writing ms | program minus I/O ms "
          "| trace on arrays ms | arrays ÷ program minus I/O |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, args in (("spiral 720 x 400", (720, 400)), ("spiral 2048 x 2048", (2048, 2048))):
        folder = make_ring(build, os.path.join(scratch, name.replace(" ", "")), "--width", args[0],
                           "--height", args[1], "--drift", 5)
        p_path, s_path = os.path.join(folder, "outx.tif"), os.path.join(folder, "outx1.tif")
        p, s = ringtrace.read_image(p_path), ringtrace.read_image(s_path)
        first = ringtrace.trace(p, s)
        out = os.path.join(folder, "saved.tif")
        runs = {"program": [], "read": [], "write": [], "arrays": []}
        for _ in range(repeat):
            runs["program"].append(timed(lambda: subprocess.run([program], cwd=folder, check=True)))
            runs["read"].append(timed(lambda: (ringtrace.read_image(p_path), ringtrace.read_image(s_path))))
            runs["write"].append(timed(lambda: first.save(out)))
            runs["arrays"].append(timed(lambda: ringtrace.trace(p, s)))
        m = {k: statistics.median(v) * 1000 for k, v in runs.items()}
        rest = m["program"] - m["read"] - m["write"]
        print(f"| {name} | {m['program']:.1f} | {m['read']:.1f} | {m['write']:.1f} | {rest:.1f} "
              f"| {m['arrays']:.1f} | {m['arrays'] / rest:.2f} |")


def bench_interrupt(build, scratch):
    import ringtrace

    folder = make_ring(build, os.path.join(scratch, "limit"), "--width", 5792, "--height", 5792, "--drift", 5)
    p = ringtrace.read_image(os.path.join(folder, "outx.tif"))
    s = ringtrace.read_image(os.path.join(folder, "outx1.tif"))
    # Python leaves SIGINT ignored when it starts ignored (a background job): handle it here.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    whole = timed(lambda: ringtrace.trace(p, s))
    print(f"\nCtrl-C at the 2^25-pixel limit (5792 x 5792 spiral turn, a whole trace {whole:.2f} s):")
    print("| signal after s | KeyboardInterrupt after the signal, ms |")
    print("|---:|---:|")
    delays = [f * whole for f in (0.05, 0.2, 0.35, 0.5, 0.65, 0.8, 0.9)]
    for delay in delays:
        sent = []
        timer = threading.Timer(delay, lambda: (sent.append(time.perf_counter()), os.kill(os.getpid(), signal.SIGINT)))
        timer.start()
        try:
            ringtrace.trace(p, s)
            print(f"| {delay:.2f} | (finished first) |")
        except KeyboardInterrupt:
            print(f"| {delay:.2f} | {(time.perf_counter() - sent[0]) * 1000:.0f} |")
        timer.join()


def bench_dask(build, scratch, repeat):
    import distributed

    import ringtrace.dask

    study = os.path.join(scratch, "study")
    folders = [make_ring(build, os.path.join(study, f"f{i:02d}"), "--width", 1024, "--height", 1024, "--seed", i)
               for i in range(16)]
    program = os.path.join(build, "bin", "ringtrace")
    clusters = {n: distributed.LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                                            dashboard_address=":0") for n in (1, 2)}
    clients = {n: distributed.Client(c) for n, c in clusters.items()}
    times = {"dask 1": [], "dask 2": [], "batch -j 1": [], "batch -j 2": []}
    try:
        for n, client in clients.items():  # warm up: imports on the workers
            ringtrace.dask.trace_folders(folders[:2], client=client, program=program)
        for _ in range(repeat):
            for n, client in clients.items():
                times[f"dask {n}"].append(timed(lambda: ringtrace.dask.trace_folders(
                    folders, client=client, program=program)))
            for j in (1, 2):
                times[f"batch -j {j}"].append(timed(lambda: subprocess.run(
                    [program, "-j", str(j), "--summary", "summary.json", *folders], check=True,
                    stdout=subprocess.DEVNULL)))
    finally:
        for c in clients.values():
            c.close()
        for c in clusters.values():
            c.close()
    m = {k: statistics.median(v) for k, v in times.items()}
    print(f"\n16 folders of 1024 x 1024 rings, medians of {repeat} turns, seconds:")
    print("| runner | one at a time | two at a time | speed-up |")
    print("|---|---:|---:|---:|")
    print(f"| ringtrace.dask, LocalCluster of 1 and 2 worker processes | {m['dask 1']:.2f} | {m['dask 2']:.2f} "
          f"| {m['dask 1'] / m['dask 2']:.2f}x |")
    print(f"| ringtrace -j 1 and -j 2 (reference) | {m['batch -j 1']:.2f} | {m['batch -j 2']:.2f} "
          f"| {m['batch -j 1'] / m['batch -j 2']:.2f}x |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--parts", default="arrays,interrupt,dask")
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sys.path.insert(0, os.path.join(build, "python"))
    print(f"processor: {processor_model()}, {os.cpu_count()} processors; load average "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    with tempfile.TemporaryDirectory() as scratch:
        parts = args.parts.split(",")
        if "arrays" in parts:
            bench_arrays(build, scratch, args.repeat)
        if "interrupt" in parts:
            bench_interrupt(build, scratch)
        if "dask" in parts:
            bench_dask(build, scratch, max(3, args.repeat // 2))
    print(f"load average at the end {' '.join(f'{x:.1f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
