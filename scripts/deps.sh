#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
set -euo pipefail
need=(cmake g++ make pkg-config libtiff-dev libgtest-dev libpng-dev binutils nlohmann-json3-dev
      python3-dev python3-numpy pybind11-dev)
# The ringtrace Python package's tests: pytest, TIFFs as arrays, a Dask cluster.
need+=(python3-pytest python3-tifffile python3-distributed)
need+=("$@")
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
