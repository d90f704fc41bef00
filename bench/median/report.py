#!/usr/bin/python3
"""Joins median_bench's JSON and scipy_median.py's JSON into Markdown tables.

usage: report.py BENCH.json [SCIPY.json]
"""
import json
import sys

TYPES = ["8u", "16u", "16s", "32f"]
# The rectangular and even windows in median_bench's order (along, across).
SHAPES = [(3, 7), (7, 3), (4, 4), (2, 6), (1, 9), (9, 1), (1, 25), (25, 1)]


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


def main():
    times = load(sys.argv[1])
    fastest = load(sys.argv[1], "best")
    scipy = json.load(open(sys.argv[2])) if len(sys.argv) > 2 else {}
    rows = ["| type | window | ours ns/px | ours, fastest run | OpenCV ns/px | SciPy ns/px "
            "| best peer ÷ ours | ours ÷ copy |",
            "|---|---|---:|---:|---:|---:|---:|---:|"]
    for kind in TYPES:
        windows = {key[2:] for key in times if key[:2] == ("ours", kind)}
        # Squares by size, then the other shapes in a fixed order.
        windows = sorted(w for w in windows if w[0] == w[1]) + [w for w in SHAPES if w in windows and w[0] != w[1]]
        copy = times.get(("copy", kind))
        for along, across in windows:
            ours = times[("ours", kind, along, across)]
            cv = times.get(("opencv", kind, along)) if along == across else None
            sp = scipy.get(f"{kind}/{along}/{across}")
            peers = [t for t in (cv, sp) if t is not None]
            ratio = f"{min(peers) / ours:.1f}×" if peers else "n/a"
            floor = f"{ours / copy:.0f}×" if copy else "n/a"
            best = fastest.get(("ours", kind, along, across))
            rows.append(f"| {kind} | {along}×{across} | {ours:.2f} | {cell(best)} | {cell(cv)} "
                        f"| {cell(sp)} | {ratio} | {floor} |")
    print("\n".join(rows))

    print()
    print("| type | window | kernel ns/px | plug-in call ns/px | call − kernel | output created and written ns/px |")
    print("|---|---|---:|---:|---:|---:|")
    for kind in TYPES:
        for key in sorted(k for k in times if k[:2] == ("plugin", kind)):
            k = key[2]
            kernel = times.get(("ours", kind, k, k))
            call = times[key]
            alloc = times.get(("allocation", kind, k))
            diff = f"{call - kernel:+.2f}" if kernel is not None else "n/a"
            print(f"| {kind} | {k}×{k} | {cell(kernel)} | {call:.2f} | {diff} | {cell(alloc)} |")

    print()
    print("| type | copy of the picture ns/px |")
    print("|---|---:|")
    for kind in TYPES:
        print(f"| {kind} | {cell(times.get(('copy', kind)))} |")


if __name__ == "__main__":
    main()
