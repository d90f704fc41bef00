#!/usr/bin/env bash
# Runs the median benchmark and the SciPy timing, prints the Markdown table.
# usage: bench/median/run.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
out="$build/bench-results"
mkdir -p "$out"
# Repetitions in random order, so that a slow spell of a shared machine
# falls on ours and the peers alike; the report takes each one's median.
"$build/bin/median_bench" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/median.json" --benchmark_out_format=json
/usr/bin/python3 "$here/scipy_median.py" >"$out/scipy.json"
/usr/bin/python3 "$here/report.py" "$out/median.json" "$out/scipy.json" | tee "$out/median.md"
# The plug-in on every core against one thread and OpenCV's default threads.
"$build/bin/median_threads_bench" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/threads.json" --benchmark_out_format=json
/usr/bin/python3 "$here/threads_report.py" "$out/threads.json" | tee "$out/threads.md"
