#!/usr/bin/env bash
# Runs one build step with its output going to a log file, and shows that output only
# when the step fails, followed by the log's path:
#   scripts/quiet.sh [--new] LOG COMMAND [ARG...]
# --new starts the log afresh; otherwise the step's output is added to it.
set -uo pipefail

new=0
if [ "${1:-}" = --new ]; then
  new=1
  shift
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 [--new] LOG COMMAND [ARG...]" >&2
  exit 2
fi
log=$1
shift
mkdir -p "$(dirname "$log")"
if [ $new -eq 1 ]; then
  : >"$log"
fi
echo "\$ $*" >>"$log"
"$@" >>"$log" 2>&1
status=$?
if [ $status -ne 0 ]; then
  cat "$log" >&2
  echo >&2
  echo "FAILED (exit status $status): $*" >&2
  echo "the full log: $(cd "$(dirname "$log")" && pwd)/$(basename "$log")" >&2
fi
exit $status
