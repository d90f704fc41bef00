#!/usr/bin/python3
"""Joins median_bench's JSON and scipy_median.py's JSON into a Markdown table.

usage: report.py BENCH.json SCIPY.json
"""
import json
import sys


def main():
    bench = json.load(open(sys.argv[1]))
    scipy = json.load(open(sys.argv[2])) if len(sys.argv) > 2 else {}
    times = {}
    for run in bench["benchmarks"]:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        who, kind, window = run["run_name"].split("/")[:3]
        times[(who, kind, int(window))] = 1e9 / run["items_per_second"]
    rows = ["| type | window | ours ns/px | OpenCV ns/px | SciPy ns/px | best peer ÷ ours |",
            "|---|---|---:|---:|---:|---:|"]
    for kind in ["8u", "16u", "16s", "32f"]:
        for window in sorted({w for (who, k, w) in times if k == kind}):
            ours = times[("ours", kind, window)]
            cv = times.get(("opencv", kind, window))
            sp = scipy.get(f"{kind}/{window}")
            peers = [t for t in (cv, sp) if t is not None]
            cell = lambda t: f"{t:.2f}" if t is not None else "n/a"
            ratio = f"{min(peers) / ours:.1f}×" if peers else "n/a"
            rows.append(f"| {kind} | {window}×{window} | {ours:.2f} | {cell(cv)} | {cell(sp)} | {ratio} |")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
