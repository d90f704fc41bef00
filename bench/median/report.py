#!/usr/bin/python3
"""Joins median_bench's JSON and scipy_median.py's JSON into Markdown tables.

usage: report.py BENCH.json [SCIPY.json [CAPPED.json ...]]

CAPPED.json: runs of the 3 × 3 and 5 × 5 rows with MEDIAN_KERNELS_ISA set
(SCIPY.json may then be given as "").
"""
import json
import sys

TYPES = ["8u", "16u", "16s", "32f"]
# The rectangular and even windows in median_bench's order (along, across).
SHAPES = [(3, 7), (7, 3), (4, 4), (2, 6), (1, 9), (9, 1), (1, 25), (25, 1)]
# median_bench's pictures, by the index its benchmarks carry.
PICTURES = {0: "smooth 512 × 768", 1: "random 2048 × 2048"}


def load(path, statistic="median"):
    times = {}
    for run in json.load(open(path))["benchmarks"]:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != statistic:
            continue
        parts = run["run_name"].split("/")
        times[tuple(parts[:2]) + tuple(int(p) for p in parts[2:])] = 1e9 / run["items_per_second"]
    return times


def cell(t):
    return f"{t:.2f}" if t is not None else "n/a"


def results(times, fastest, scipy, picture):
    rows = ["| type | window | ours ns/px | ours, fastest run | OpenCV ns/px | SciPy ns/px "
            "| best peer ÷ ours | ours ÷ copy |",
            "|---|---|---:|---:|---:|---:|---:|---:|"]
    for kind in TYPES:
        windows = {key[2:4] for key in times if key[:2] == ("ours", kind) and key[4] == picture}
        # Squares by size, then the other shapes in a fixed order.
        windows = sorted(w for w in windows if w[0] == w[1]) + [
            w for w in SHAPES if w in windows and w[0] != w[1]]
        copy = times.get(("copy", kind, picture))
        for along, across in windows:
            ours = times[("ours", kind, along, across, picture)]
            cv = times.get(("opencv", kind, along, picture)) if along == across else None
            sp = scipy.get(f"{kind}/{along}/{across}") if picture == 0 else None
            peers = [t for t in (cv, sp) if t is not None]
            ratio = f"{min(peers) / ours:.1f}×" if peers else "n/a"
            floor = f"{ours / copy:.0f}×" if copy else "n/a"
            best = fastest.get(("ours", kind, along, across, picture))
            rows.append(f"| {kind} | {along}×{across} | {ours:.2f} | {cell(best)} | {cell(cv)} "
                        f"| {cell(sp)} | {ratio} | {floor} |")
    return rows


def goals(times, picture, squares_only=False):
    """The single-threaded goals, checked on the medians of the repetitions."""
    rows = ["| goal | measured | met |", "|---|---|---|"]

    def verdict(ok):
        return "yes" if ok else "**no**"

    for kind in TYPES:
        for k in (3, 5):
            ours = times.get(("ours", kind, k, k, picture))
            cv = times.get(("opencv", kind, k, picture))
            if ours and cv:
                rows.append(f"| {kind} {k}×{k}: ≥ 1.5× OpenCV | {cv / ours:.2f}× "
                            f"({ours:.2f} against {cv:.2f} ns) | {verdict(cv / ours >= 1.5)} |")
    if squares_only:
        return rows
    squares = sorted({key[2] for key in times
                      if key[:2] == ("ours", "8u") and key[2] == key[3] and key[4] == picture})
    for k in squares:
        ours = times[("ours", "8u", k, k, picture)]
        limit = 4.0 if k <= 9 else 8.0
        rows.append(f"| 8u {k}×{k}: ≤ {limit:.0f} ns | {ours:.2f} ns | {verdict(ours <= limit)} |")
    # 16-bit: at most twice the bytes from 15 × 15 up, below that no slower
    # than before (compare with the previous report); floats at most three
    # times the bytes from 7 × 7 up.
    for kind in TYPES[1:]:
        for k in squares:
            if k < 7:
                continue
            ours = times.get(("ours", kind, k, k, picture))
            bytes_ = times[("ours", "8u", k, k, picture)]
            if not ours:
                continue
            measured = f"{ours / bytes_:.2f}× ({ours:.2f} against {bytes_:.2f} ns)"
            if kind == "32f":
                rows.append(f"| {kind} {k}×{k}: ≤ 3× 8u | {measured} | {verdict(ours <= 3 * bytes_)} |")
            elif k >= 15:
                rows.append(f"| {kind} {k}×{k}: ≤ 2× 8u | {measured} | {verdict(ours <= 2 * bytes_)} |")
            else:
                rows.append(f"| {kind} {k}×{k}: ÷ 8u, no slower than before | {measured} | "
                            f"compare |")
    return rows


def context(data, key, default="unknown"):
    return data.get("context", {}).get(key, default)


def main():
    data = json.load(open(sys.argv[1]))
    times = load(sys.argv[1])
    fastest = load(sys.argv[1], "best")
    scipy = json.load(open(sys.argv[2])) if len(sys.argv) > 2 and sys.argv[2] else {}
    processor = context(data, "processor")
    print(f"Processor: {processor}")
    for picture, name in PICTURES.items():
        print()
        print(f"### Picture: {name}")
        print()
        print("\n".join(results(times, fastest, scipy, picture)))
        print()
        print(f"#### Goals on {processor}, instruction sets: {context(data, 'instruction sets')}, "
              f"{name}")
        print()
        print("\n".join(goals(times, picture)))
    # The same 3 × 3 (and 5 × 5) goals from a run with a capped instruction set.
    for path in sys.argv[3:]:
        capped = json.load(open(path))
        print()
        print(f"#### Goals on {context(capped, 'processor')}, instruction sets: "
              f"{context(capped, 'instruction sets')}, {PICTURES[1]}")
        print()
        print("\n".join(goals(load(path), 1, squares_only=True)))

    print()
    print("| type | window | kernel ns/px | plug-in call ns/px | call − kernel | output created and written ns/px |")
    print("|---|---|---:|---:|---:|---:|")
    for kind in TYPES:
        for key in sorted(k for k in times if k[:2] == ("plugin", kind)):
            k = key[2]
            kernel = times.get(("ours", kind, k, k, 0))
            call = times[key]
            alloc = times.get(("allocation", kind, k))
            diff = f"{call - kernel:+.2f}" if kernel is not None else "n/a"
            print(f"| {kind} | {k}×{k} | {cell(kernel)} | {call:.2f} | {diff} | {cell(alloc)} |")

    print()
    print("| type | copy of the smooth picture ns/px | copy of the random picture ns/px |")
    print("|---|---:|---:|")
    for kind in TYPES:
        print(f"| {kind} | {cell(times.get(('copy', kind, 0)))} | {cell(times.get(('copy', kind, 1)))} |")


if __name__ == "__main__":
    main()
