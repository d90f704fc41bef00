#!/usr/bin/env bash
# Runs every test of a build and shows what matters: the output of failing tests, skipped
# tests and the summary. The full CTest output is kept in BUILD_DIR/test.log.
#   scripts/run-tests.sh BUILD_DIR JOBS
set -uo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR JOBS" >&2
  exit 2
fi
build=$1
log=$(cd "$build" && pwd)/test.log
# A passing test is two lines, "Start N: NAME" and "i/n Test #N: NAME .... Passed"; those
# and CTest's note on changing directory are left out, everything else is shown.
ctest --test-dir "$build" --output-on-failure -j "$2" 2>&1 | tee "$log" |
  grep -Ev '^Internal ctest changing into directory|^ +Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* +Passed +[0-9.]+ sec$'
status=${PIPESTATUS[0]}
echo "the full test log: $log"
exit "$status"
