#!/usr/bin/env bash
# Cross-builds the whole project for 64-bit ARM on a Debian 12 amd64 machine and
# runs its tests under qemu-user: every test but the packaging ones, which build
# and inspect a package of the build machine's own kind. Needs only apt access;
# binfmt registration is not needed (programs are started through qemu).
# usage: scripts/cross-test-arm64.sh [BUILD_DIR]   (default build-arm64)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-arm64}
jobs=$(nproc)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
fi
# The :arm64 libraries also bring the ARM loader and C library the programs run on.
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
  cmake make pkg-config g++ binutils g++-aarch64-linux-gnu qemu-user-static \
  libtiff-dev:arm64 libpng-dev:arm64 libgtest-dev:arm64 >/dev/null

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=Release -DRT_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -E '^packaging\.' --output-on-failure -j "$jobs"
