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
# The 3 x 3 and 5 x 5 goals hold with the AVX2 set too (on x86-64).
capped=()
if [ "$(uname -m)" = x86_64 ]; then
  MEDIAN_KERNELS_ISA=avx2 "$build/bin/median_bench" --benchmark_filter='^(ours/[^/]*/(3/3|5/5)|opencv/[^/]*/(3|5))/1$' \
    --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/median-avx2.json" --benchmark_out_format=json >/dev/null
  capped=("$out/median-avx2.json")
fi
/usr/bin/python3 "$here/report.py" "$out/median.json" "$out/scipy.json" "${capped[@]}" | tee "$out/median.md"
# The plug-in on every core against one thread and OpenCV's default threads.
"$build/bin/median_threads_bench" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/threads.json" --benchmark_out_format=json
/usr/bin/python3 "$here/threads_report.py" "$out/threads.json" | tee "$out/threads.md"
