#!/usr/bin/env bash
# Runs the median benchmark and the SciPy timing, prints the Markdown table.
# usage: bench/median/run.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
out="$build/bench-results"
mkdir -p "$out"
"$build/bin/median_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/median.json" --benchmark_out_format=json
/usr/bin/python3 "$here/scipy_median.py" >"$out/scipy.json"
/usr/bin/python3 "$here/report.py" "$out/median.json" "$out/scipy.json" | tee "$out/median.md"
