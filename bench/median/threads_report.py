#!/usr/bin/python3
"""Markdown table of threads_bench's JSON: the plug-in call on one thread and on
all of them, and OpenCV's medianBlur with its default threads.

usage: threads_report.py THREADS.json
"""
import json
import sys

TYPES = ["8u", "16u", "16s", "32f"]


def load(runs, statistic, field=None):
    """ns per output pixel (wall time), or the counter `field`, by run."""
    times = {}
    for run in runs:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != statistic:
            continue
        parts = run["run_name"].split("/")  # kind/type/window[/threads]/real_time
        numbers = tuple(int(p) for p in parts[2:] if p.isdigit())
        value = run.get(field) if field else 1e9 / run["items_per_second"]
        if value is not None:
            times[tuple(parts[:2]) + numbers] = value
    return times


def main():
    data = json.load(open(sys.argv[1]))
    context = data["context"]
    median = load(data["benchmarks"], "median")
    best = load(data["benchmarks"], "best")
    cpu = load(data["benchmarks"], "median", "cpu_ns_per_px")
    threads = context.get("threads", "?")
    print(f"Processor: {context.get('processor', 'unknown')}; {threads} threads for the plug-in, "
          f"OpenCV's default {context.get('opencv_threads', '?')}. 2048 × 2048 uniformly random values, "
          "ns per output pixel, median of the repetitions (fastest in brackets). Work: the "
          "processor time of all threads together, with all threads ÷ with one (1.00 means no "
          "work added by the bands; time spent waiting for a processor is not counted).")
    print()
    print(f"| type | window | plug-in, 1 thread | plug-in, {threads} threads | speed-up | work | "
          "OpenCV medianBlur | OpenCV ÷ plug-in |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for kind in TYPES:
        for k in sorted({key[2] for key in median if key[:2] == ("plugin", kind)}):
            one, many = median.get(("plugin", kind, k, 1)), median.get(("plugin", kind, k, 0))
            one_best, many_best = best.get(("plugin", kind, k, 1)), best.get(("plugin", kind, k, 0))
            cv = median.get(("opencv", kind, k))
            speedup = f"{one / many:.2f}× [{one_best / many_best:.2f}×]" if one and many else "n/a"
            versus = f"{cv / many:.1f}×" if cv and many else "n/a"
            work_one, work_many = cpu.get(("plugin", kind, k, 1)), cpu.get(("plugin", kind, k, 0))
            work = f"{work_many / work_one:.2f}" if work_one and work_many else "n/a"
            cv_text = f"{cv:.2f}" if cv else "n/a"
            print(f"| {kind} | {k}×{k} | {one:.2f} [{one_best:.2f}] | {many:.2f} [{many_best:.2f}] | "
                  f"{speedup} | {work} | {cv_text} | {versus} |")


if __name__ == "__main__":
    main()
