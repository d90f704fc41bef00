#!/usr/bin/env bash
# Runs every fuzz target of a built fuzz tree for a bounded time each, one after another.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
# Seeds are generated afresh into BUILD_DIR/corpus/<target>-seeds; what the fuzzer learns
# stays in BUILD_DIR/corpus/<target>, findings go to BUILD_DIR/artifacts. Fails on any
# crash, leak, sanitizer report, out-of-memory or input slower than 10 seconds.
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
targets=(fuzz_tracer_input fuzz_rankwin_call)

corpus=$build/corpus
artifacts=$build/artifacts
logs=$build/fuzz-logs
mkdir -p "$corpus" "$artifacts" "$logs"
rm -rf "$corpus/fuzz_tracer_input-seeds" "$corpus/fuzz_rankwin_call-seeds"
"$build/bin/fuzz_make_seeds" "$corpus/fuzz_tracer_input-seeds" "$corpus/fuzz_rankwin_call-seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$corpus/$t"
  log=$logs/$t.log
  echo "fuzz: $t for ${seconds}s (log: $log)"
  status=0
  # The outer timeout only catches a fuzzer that stops responding altogether.
  timeout --signal=KILL $((seconds + 300)) \
    "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
      "$corpus/$t" "$corpus/$t-seeds" >"$log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$log" || true
  if [ "$status" -ne 0 ] || grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|ERROR: libFuzzer' "$log"; then
    echo "fuzz: $t FAILED (status $status); the end of its log:"
    tail -n 60 "$log"
    ls "$artifacts"/"$t"-* 2>/dev/null || true
    failed=1
  fi
done
exit $failed
