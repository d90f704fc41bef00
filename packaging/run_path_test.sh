#!/usr/bin/env bash
# The project's programs and libraries never look for libraries in the working directory:
# no empty run-path entry, and a bogus libtiff.so.6 in the folder a program runs in is not
# loaded. usage: run_path_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run_path_test.sh BUILD_DIR}" && pwd)
status=0
shopt -s nullglob
for file in "$build"/bin/* "$build"/lib/*.so "$build"/python/*/*.so; do
  [[ -f $file ]] && head -c 4 "$file" | grep -q ELF || continue
  runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
  [[ -z $runpath ]] && continue
  if [[ $runpath == :* || $runpath == *: || $runpath == *::* ]]; then
    echo "FAIL: $file has an empty run-path entry: [$runpath]"
    status=1
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf 'not a library' >"$scratch/libtiff.so.6"
set +e
output=$(cd "$scratch" && "$build/bin/ringtrace" 2>&1)
code=$?
set -e
if [[ $code -ne 1 || $output != *"error image not read"* ]]; then
  echo "FAIL: ringtrace in a folder holding a bogus libtiff.so.6 exited $code: $output"
  status=1
fi
[[ $status -eq 0 ]] && echo "run paths: no working-directory lookups"
exit $status
