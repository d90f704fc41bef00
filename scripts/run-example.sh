#!/usr/bin/env bash
# Generates the bundled example pair and traces it: scripts/run-example.sh BUILD_DIR
# Everything is written below BUILD_DIR/run, never into the source tree.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work="$build/run/ringtrace"

rm -rf "$work"
mkdir -p "$work"
"$build/bin/make_ring" --out "$work" >/dev/null

tracer="$build/bin/ringtrace"
if [ -x "$tracer" ]; then
  # The tracer's status is reported, not allowed to end the script.
  status=0
  (cd "$work" && "$tracer") || status=$?
  echo "ringtrace exit status: $status"
  if [ -f "$work/new.tif" ]; then
    echo "result: $work/new.tif"
  else
    echo "result: $work/new.tif was not written"
  fi
else
  echo "ringtrace not built yet ($tracer missing); skipped tracing"
fi

# The picture: the contour in red over the primary image.
viewer="$build/bin/ringview"
if [ -x "$viewer" ] && [ -f "$work/new.tif" ]; then
  if "$viewer" "$work" >/dev/null; then
    echo "overlay: $work/overlay.png"
  else
    echo "overlay: ringview failed, no picture"
  fi
elif [ ! -x "$viewer" ]; then
  echo "ringview not built yet ($viewer missing); skipped the overlay picture"
fi

if [ -f "$here/run-rankwin-example.sh" ]; then
  bash "$here/run-rankwin-example.sh" "$build"
fi
