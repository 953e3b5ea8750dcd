#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite in every configuration:
#   native   64-bit, the trq_32x64 program
#   asan     64-bit with address and undefined-behaviour sanitizers
#   m32      32-bit (i386), the trq_32 program
#   fuzz     clang with libFuzzer; every fuzz target runs over its seeds
# TRQ_CONFIGS="native asan" picks a subset; TRQ_SKIP_SETUP=1 skips the installs;
# TRQ_JOBS sets the build parallelism; TRQ_DEPS_DIR where GoogleTest for i386 lies.
# m32 runs its programs under qemu-i386 where the kernel runs no i386 program;
# TRQ_M32_EMULATOR=qemu-i386 takes that road on any machine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
[ "${TRQ_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup.sh

deps="${TRQ_DEPS_DIR:-$here/.deps}"
jobs=${TRQ_JOBS:-$(nproc)}
configs=${TRQ_CONFIGS:-"native asan m32 fuzz"}
export QV_UI=headless QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

configure() {
  local name=$1; shift
  cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

for c in $configs; do
  echo "=== $c"
  case $c in
    native) configure native ;;
    asan)   configure asan -DTRQ_SANITIZE=ON -DTRQ_BENCH=OFF -DTRQ_WITH_QT=OFF ;;
    m32)    configure m32 --toolchain "$here/cmake/toolchain-m32.cmake" \
              -DCMAKE_PREFIX_PATH="$deps/gtest32" -DTRQ_BENCH=OFF \
              -DTRQ_M32_EMULATOR="${TRQ_M32_EMULATOR:-}"
            echo "m32 road: $(sed -n 's/^TRQ_M32_ROAD:INTERNAL=//p' build/m32/CMakeCache.txt)" ;;
    fuzz)   CC=clang CXX=clang++ configure fuzz -DTRQ_FUZZ=ON ;;
    *) echo "unknown configuration $c" >&2; exit 2 ;;
  esac
  cmake --build "build/$c" -j"$jobs"
  if [ "$c" = asan ]; then
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  fi
  ctest --test-dir "build/$c" -j"$jobs" --output-on-failure --timeout 300
  unset ASAN_OPTIONS UBSAN_OPTIONS
done
echo "=== all configurations passed: $configs"
