#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages and builds
# what no package ships ready (GoogleTest for i386). Safe to run repeatedly.
#   --program   only what building and running the program takes (scripts/run.sh);
#               the configuration looks for GoogleTest too, so its packages come along
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps="${TRQ_DEPS_DIR:-$here/.deps}"

packages=(
  build-essential cmake ninja-build pkg-config git
  g++ gcc-multilib g++-multilib lib32z1-dev
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  zlib1g-dev
  libftdi1-dev libusb-1.0-0-dev
  nlohmann-json3-dev
  qt6-base-dev qt6-qpa-plugins xvfb xauth imagemagick
  zip unzip gzip
  qemu-user
)
program_only=0
if [ "${1:-}" = --program ]; then
  program_only=1
  packages=(build-essential cmake ninja-build pkg-config g++ zlib1g-dev libftdi1-dev libusb-1.0-0-dev
            nlohmann-json3-dev googletest libgtest-dev libgmock-dev qt6-base-dev qt6-qpa-plugins xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "$program_only" = 1 ]; then echo "setup: the program's dependencies ready"; exit 0; fi

# GoogleTest for the 32-bit build, from the sources the googletest package ships.
gt32="$deps/gtest32"
if [ ! -f "$gt32/lib/libgtest.a" ]; then
  rm -rf "$deps/gtest32-build"
  cmake -S /usr/src/googletest -B "$deps/gtest32-build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 \
    -DCMAKE_INSTALL_PREFIX="$gt32" >/dev/null
  cmake --build "$deps/gtest32-build" -j"$(nproc)" >/dev/null
  cmake --install "$deps/gtest32-build" >/dev/null
fi
echo "setup: dependencies ready"
