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

programs=(ringtrace ringview hvhost make_ring)
libraries=(rankwin.so libhv.so libpictura_res.so libkernellocator.so libmediankernels.so)

# Every installed ELF file: a run path relative to itself, never into the build tree.
check_run_paths() {
  local root=$1 f runpath
  for f in "$root"/bin/* "$root"/lib/ringtrace/*.so; do
    runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
    # shellcheck disable=SC2016 # '$ORIGIN' below is the literal run path
    case "$f:$runpath" in
      *"$build"*) fail "$f has a run path into the build tree: $runpath" ;;
      "$root/bin/hvhost":'$ORIGIN/../lib/ringtrace:$ORIGIN/../lib' | "$root/lib/ringtrace/"*:'$ORIGIN') ;;
      # The other programs load nothing of ours: no run path, nothing searched first.
      "$root/bin/ringtrace": | "$root/bin/ringview": | "$root/bin/make_ring":) ;;
      *) fail "$f has run path '$runpath'" ;;
    esac
  done
}

expect_files() {
  local root=$1 f
  for f in "${programs[@]/#/bin/}" "${libraries[@]/#/lib/ringtrace/}"; do
    [ -f "$root/$f" ] || fail "$root/$f was not installed"
  done
  for f in share/doc/ringtrace/copyright share/doc/ringtrace/changelog.gz \
           "${programs[@]/%/.1.gz}"; do
    case $f in *.1.gz) f=share/man/man1/$f ;; esac
    [ -f "$root/$f" ] || fail "$root/$f was not installed"
  done
}

# The Python package rankwin, when the build has it: imported from the installed
# dist-packages by Debian's python3, its module linked to the kernels in lib/ringtrace.
check_python_rankwin() {
  local root=$1 site=$1/lib/python3/dist-packages module runpath got
  [ -d "$build/python/rankwin" ] || return 0
  module=$(ls "$site"/rankwin/_rankwin*.so 2>/dev/null) || fail "the rankwin module was not installed"
  runpath=$(readelf -d "$module" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  # shellcheck disable=SC2016 # '$ORIGIN' below is the literal run path
  [ "$runpath" = '$ORIGIN/../../../ringtrace:$ORIGIN/../../lib' ] || fail "$module has run path '$runpath'"
  got=$(cd "$scratch" && PYTHONPATH="$site" LD_DEBUG=files /usr/bin/python3 -c \
    'import rankwin, numpy as np; print(rankwin.median_filter(np.arange(25, dtype=np.uint8).reshape(5, 5), 3).tolist())' \
    2>"$scratch/python-loader.log") || { cat "$scratch/python-loader.log" >&2; fail "import rankwin failed"; }
  [ "$got" = "[[1, 2, 3, 4, 4], [5, 6, 7, 8, 9], [10, 11, 12, 13, 14], [15, 16, 17, 18, 19], [20, 20, 21, 22, 23]]" ] ||
    fail "rankwin.median_filter gave $got"
  if grep "file=" "$scratch/python-loader.log" | grep -qF "$build"; then
    fail "the installed Python package loaded files from the build tree"
  fi
  echo "python3 imported rankwin from $site"
}

is_png() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$1 is not a PNG"
}

# The bundled examples, from a working directory outside both trees, the programs found
# on PATH as an installed system finds them. LD_DEBUG=files,libs lists every object the
# loader opens, plug-in and kernel library included: each of the project's libraries must
# come from the installed tree, nothing from the build tree.
run_examples() {
  local root=$1 work="$scratch/work-$2" lib
  mkdir -p "$work"
  (
    cd "$work"
    export PATH="$root/bin:/usr/bin:/bin"
    make_ring >/dev/null
    ringtrace || fail "ringtrace failed"
    [ -f new.tif ] || fail "ringtrace wrote no new.tif"
    ringview >/dev/null || fail "ringview failed"
    is_png overlay.png
    LD_DEBUG=files,libs hvhost "$root/lib/ringtrace/rankwin.so" new.tif 3 3 median.tif \
      2>loader.log || { cat loader.log >&2; fail "hvhost with the installed plug-in failed"; }
    # "calling init: PATH" for every object the loader mapped; run paths show up as
    # bin/../lib/ringtrace, so each path is resolved before comparing.
    sed -n 's/.*calling init: //p' loader.log | xargs -r readlink -f >loaded.txt
    for lib in "${libraries[@]}"; do
      [ "$(grep "/$lib\$" loaded.txt)" = "$(readlink -f "$root/lib/ringtrace/$lib")" ] ||
        fail "$lib was not loaded from $root/lib/ringtrace alone: $(grep "/$lib\$" loaded.txt | tr '\n' ' ')"
    done
    if grep "file=" loader.log | grep -qF "$build"; then
      grep "file=" loader.log | grep -F "$build" >&2
      fail "the installed programs loaded files from the build tree"
    fi
    ringview --grey median.tif median.png >/dev/null || fail "ringview --grey failed"
    is_png median.png
    # By name, hvhost finds the plug-in in lib/ringtrace beside it.
    hvhost rankwin new.tif 3 3 named.tif || fail "hvhost rankwin (by name) failed"
    cmp -s median.tif named.tif || fail "hvhost rankwin gave another result than the path"
    check_python_package "$root"
  )
  check_python_rankwin "$root"
  echo "examples ran from $root"
}

# The package's files: programs, private libraries, documentation, nothing else; above
# all nothing in a directory the dynamic loader searches, and no loader configuration.
check_package_files() {
  local deb=$1 path
  while read -r path; do
    case $path in
      ./usr/bin/* | ./usr/lib/ringtrace/* | ./usr/share/doc/ringtrace/* | ./usr/share/man/man1/*) ;;
      ./usr/lib/python3/dist-packages/rankwin/*) ;;
      ./usr/lib/python3/dist-packages/ringtrace/*) ;;
      *) fail "unexpected file in the package: $path" ;;
    esac
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$')
  if dpkg-deb --fsys-tarfile "$deb" | tar -t |
     grep -E '^\./(usr/)?(local/)?lib(32|64|x32)?/([^/]+-linux-[^/]+/)?[^/]+\.so' ; then
    fail "the package puts libraries into the system's library directories"
  fi
  dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -vE '^\./$|^\./(control|md5sums)$' &&
    fail "the package has maintainer scripts or triggers"
  [ "$(dpkg-deb -f "$deb" Version)" = \
    "$(zcat "$scratch/root/usr/share/doc/ringtrace/changelog.gz" | sed -n '1s/^ringtrace (\(.*\)).*/\1/p')" ] ||
    fail "the change log's first entry is not this version"
  return 0
}

# The Python package, where it was built: its extension finds the installed private
# libraries through its run path, and traces the example as the installed program did.
check_python_package() {
  local root=$1 ext runpath
  [ -d "$root/lib/python3/dist-packages/ringtrace" ] || return 0
  ext=$(ls "$root"/lib/python3/dist-packages/ringtrace/_tracer*.so) || fail "no ringtrace extension installed"
  runpath=$(readelf -d "$ext" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
  # shellcheck disable=SC2016 # the literal run path
  [ "$runpath" = '$ORIGIN/../../../ringtrace:$ORIGIN/../../lib' ] || fail "$ext has run path '$runpath'"
  mkdir -p py && cp outx.tif outx1.tif py/
  PYTHONPATH="$root/lib/python3/dist-packages" /usr/bin/python3 -c '
import ringtrace
t = ringtrace.trace_folder("py", write=True)
assert t.outcome == "accepted", t
assert ringtrace.__file__.startswith("'"$root"'"), ringtrace.__file__' || fail "the installed Python package failed"
  cmp -s py/new.tif new.tif || fail "the installed Python package wrote another new.tif than ringtrace"
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
    check_package_files "$deb"
    expect_files "$scratch/root/usr"
    check_run_paths "$scratch/root/usr"
    run_examples "$scratch/root/usr" deb
    ;;
esac
