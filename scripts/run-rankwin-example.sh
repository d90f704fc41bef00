#!/usr/bin/env bash
# Demonstrates the median window plug-in: makes a noisy picture, filters it
# with a 5 x 5 window through hvhost, and says where both images are.
#   scripts/run-rankwin-example.sh BUILD_DIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 1
fi
build=$(cd "$1" && pwd)
for tool in "$build/bin/make-noisy-tiff" "$build/bin/hvhost" "$build/lib/rankwin.so"; do
  [ -e "$tool" ] || { echo "$tool is missing: build the project first" >&2; exit 1; }
done
work="$build/run/rankwin"
mkdir -p "$work"
"$build/bin/make-noisy-tiff" "$work/in.tif"
"$build/bin/hvhost" "$build/lib/rankwin.so" "$work/in.tif" 5 5 "$work/out.tif"
echo "rankwin: median-filtered $work/in.tif (5 x 5 window) into $work/out.tif"

# Before/after pictures of the demonstration, when the viewer is built.
if [ -x "$build/bin/ringview" ]; then
  "$build/bin/ringview" --grey "$work/in.tif" "$work/before.png" >/dev/null
  "$build/bin/ringview" --grey "$work/out.tif" "$work/after.png" >/dev/null
  echo "rankwin: pictures $work/before.png and $work/after.png"
fi
