#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the programs need,
# but only those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config libeigen3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri
  libopenexr-dev zlib1g-dev libpng-dev openimageio-tools
  libopenvdb-dev libboost-iostreams-dev python3-openvdb
  xvfb xauth
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed
  clang libclang-rt-14-dev
  g++-aarch64-linux-gnu qemu-user googletest
  desktop-file-utils appstream lintian dpkg-dev file man-db groff-base bsdextrautils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
