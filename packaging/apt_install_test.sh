#!/usr/bin/env bash
# Installs the Debian package into this system with apt, runs the bundled example and a
# plug-in call as a user would (programs by name from any folder, no PATH or
# LD_LIBRARY_PATH of our own), then removes the package again. For CI machines:
#   packaging/apt_install_test.sh PACKAGE.deb
# Refuses to run where ringtrace is installed already, so that it never removes an
# installation it did not make.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if dpkg-query -W -f='${Status}' ringtrace 2>/dev/null | grep -q 'install ok installed'; then
  echo "FAIL: ringtrace is installed already; not touching it" >&2
  exit 1
fi

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/ringtrace-apt-XXXXXX")
cleanup() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq ringtrace >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb" >/dev/null

unset LD_LIBRARY_PATH LD_PRELOAD HV_KERNEL_LIBRARY
cd "$work"
for program in ringtrace ringview hvhost make_ring; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
done
make_ring >/dev/null
ringtrace || fail "ringtrace failed"
ringview >/dev/null || fail "ringview failed"
hvhost /usr/lib/ringtrace/rankwin.so new.tif 3 3 median.tif || fail "hvhost failed"
hvhost rankwin new.tif 3 3 named.tif || fail "hvhost rankwin (the plug-in by name) failed"
cmp -s median.tif named.tif || fail "hvhost rankwin gave another result than the full path"
ringview --grey median.tif median.png >/dev/null || fail "ringview --grey failed"
# ldd shows the run path as found: /usr/bin/../lib/ringtrace/libhv.so.
found=$(ldd /usr/bin/hvhost | awk '$1 == "libhv.so" { print $3 }')
[ "$(readlink -f "$found")" = /usr/lib/ringtrace/libhv.so ] ||
  fail "hvhost does not find libhv.so in /usr/lib/ringtrace: $(ldd /usr/bin/hvhost)"
# The Python package, from this folder, with Debian's python3 and nothing on PYTHONPATH.
if dpkg-deb -c "$deb" | grep '/dist-packages/rankwin/' >/dev/null; then
  got=$(env -u PYTHONPATH /usr/bin/python3 -c \
    'import rankwin, numpy as np; print(rankwin.median_filter(np.arange(25, dtype=np.uint8).reshape(5, 5), 3).tolist())') ||
    fail "python3 -c 'import rankwin' failed"
  [ "$got" = "[[1, 2, 3, 4, 4], [5, 6, 7, 8, 9], [10, 11, 12, 13, 14], [15, 16, 17, 18, 19], [20, 20, 21, 22, 23]]" ] ||
    fail "rankwin.median_filter gave $got"
  echo "python3 imported rankwin from $(env -u PYTHONPATH /usr/bin/python3 -c 'import rankwin; print(rankwin.__file__)')"
fi
# The Python package from dist-packages, on the pixels tifffile reads, as a user types it.
if [ -d /usr/lib/python3/dist-packages/ringtrace ] && /usr/bin/python3 -c 'import tifffile' 2>/dev/null; then
  ringtrace --csv contour.csv || fail "ringtrace --csv failed"
  /usr/bin/python3 -c "import ringtrace, tifffile; t = ringtrace.trace(tifffile.imread('outx.tif'), tifffile.imread('outx1.tif')); print('\n'.join(['column,row'] + ['%d,%d' % tuple(p) for p in t.contour]))" >py.csv ||
    fail "the Python package failed"
  cmp -s py.csv contour.csv || fail "the Python package's contour differs from ringtrace's CSV"
  echo "installed with apt: ringtrace.trace on the example gave the program's contour"
fi
echo "installed with apt: the example, a plug-in call and both Python packages ran from /usr/bin"
