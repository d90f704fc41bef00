#!/usr/bin/env bash
# Installs the project out of the build tree and runs the bundled examples with the
# installed programs only:
#   packaging/installed_run_test.sh install BUILD_DIR   cmake --install into a scratch prefix
#   packaging/installed_run_test.sh deb BUILD_DIR       build the .deb, dpkg -x it, run from there
# Exit status 77 means skipped (no dpkg-deb on this machine).
set -euo pipefail

if [ $# -ne 2 ] || { [ "$1" != install ] && [ "$1" != deb ]; }; then
  echo "usage: $0 install|deb BUILD_DIR" >&2
  exit 2
fi
mode=$1
build=$(cd "$2" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ringtrace-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Nothing from the build tree may help the installed programs find their libraries.
unset LD_LIBRARY_PATH LD_PRELOAD HV_KERNEL_LIBRARY HV_KERNEL_LOCATOR_TRACE

# Every installed ELF file: a run path relative to itself, never into the build tree.
check_run_paths() {
  local root=$1 f runpath
  for f in "$root"/bin/* "$root"/lib/*.so; do
    runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
    # shellcheck disable=SC2016 # '$ORIGIN' below is the literal run path
    case "$runpath" in
      *"$build"*) fail "$f has a run path into the build tree: $runpath" ;;
      '$ORIGIN' | '$ORIGIN/../lib') ;;
      *) fail "$f has run path '$runpath', expected \$ORIGIN or \$ORIGIN/../lib" ;;
    esac
  done
}

expect_files() {
  local root=$1 f
  for f in bin/ringtrace bin/ringview bin/hvhost bin/make_ring lib/rankwin.so lib/libhv.so \
           lib/libpictura_res.so lib/libkernellocator.so lib/libmediankernels.so; do
    [ -f "$root/$f" ] || fail "$root/$f was not installed"
  done
}

is_png() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$1 is not a PNG"
}

# The bundled examples, from a working directory outside both trees. LD_DEBUG=files,libs
# lists every object the loader opens, plug-in and kernel library included: none may
# come from the build tree.
run_examples() {
  local root=$1 work="$scratch/work-$2"
  mkdir -p "$work"
  "$root/bin/make_ring" --out "$work" >/dev/null
  (cd "$work" && "$root/bin/ringtrace") || fail "ringtrace failed"
  [ -f "$work/new.tif" ] || fail "ringtrace wrote no new.tif"
  "$root/bin/ringview" "$work" >/dev/null || fail "ringview failed"
  is_png "$work/overlay.png"
  LD_DEBUG=files,libs "$root/bin/hvhost" "$root/lib/rankwin.so" "$work/new.tif" 3 3 "$work/median.tif" \
    2>"$work/loader.log" || { cat "$work/loader.log" >&2; fail "hvhost with the installed plug-in failed"; }
  grep -q "file=$root/lib/libmediankernels.so" "$work/loader.log" ||
    fail "the installed kernel library was not loaded"
  if grep "file=" "$work/loader.log" | grep -qF "$build"; then
    grep "file=" "$work/loader.log" | grep -F "$build" >&2
    fail "the installed programs loaded files from the build tree"
  fi
  "$root/bin/ringview" --grey "$work/median.tif" "$work/median.png" >/dev/null || fail "ringview --grey failed"
  is_png "$work/median.png"
  echo "examples ran from $root"
}

case $mode in
  install)
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    expect_files "$scratch/prefix"
    check_run_paths "$scratch/prefix"
    run_examples "$scratch/prefix" install
    ;;
  deb)
    if ! command -v dpkg-deb >/dev/null; then
      echo "SKIP: dpkg-deb is not installed, the Debian package cannot be checked"
      exit 77
    fi
    # Built afresh into the scratch directory: a .deb left in the build tree may be stale.
    cpack --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null
    deb=$(ls "$scratch"/pkg/*.deb)
    [ "$(echo "$deb" | wc -l)" -eq 1 ] || fail "expected one package, got: $deb"
    depends=$(dpkg-deb -f "$deb" Depends)
    for dep in libtiff6 libpng16-16; do
      echo "$depends" | grep -qw "$dep" || fail "package does not depend on $dep: $depends"
    done
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "package has no maintainer"
    dpkg -x "$deb" "$scratch/root"
    root="$scratch/root/opt/ringtrace"
    expect_files "$root"
    check_run_paths "$root"
    run_examples "$root" deb
    ;;
esac
