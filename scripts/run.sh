#!/usr/bin/env bash
# Starts TRQ (trq_32x64) with its window on two simulated KMV-USB modules, so
# the whole hardware road runs without hardware. Installs the packages the
# program needs when they are missing, and builds trq_32x64 and trq_remote in
# the native configuration when needed (nothing that only the tests need: for
# those, scripts/setup.sh and scripts/test.sh).
# Arguments pass through to the program, e.g.  scripts/run.sh -s1 -m2  for
# emulated modules, or  scripts/run.sh -info  to skip the start-up dialog.
#   TRQ_SKIP_SETUP=1   do not check the installed packages
#   QV_D2XX=...        another bus: a description file, "sim" (one module),
#                      or unset it with QV_D2XX= to use real modules
#   QV_UI=headless     no window: the program runs unattended until Ctrl-C
#   TRQ_JOBS=N         build parallelism (default: the number of processors)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TRQ_BUILD_DIR:-$here/build/native}

jobs=${TRQ_JOBS:-$(nproc)}

# Only what building and running the program takes: the 32-bit GoogleTest,
# clang and the rest that only the tests use are left to scripts/test.sh.
[ "${TRQ_SKIP_SETUP:-0}" = 1 ] || bash "$here/scripts/setup.sh" --program >&2
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
# trq_remote drives the running program from scripts (README, "Driving TRQ from a script").
cmake --build "$build" --target trq_32x64 trq_remote -j"$jobs" >&2

if [ "${QV_UI:-}" != headless ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
run.sh: there is no display to show TRQ's window on (DISPLAY and WAYLAND_DISPLAY are empty).
  On a desktop, run it from a terminal of that desktop; over ssh, use ssh -X.
  Without a screen, give it a virtual one:  xvfb-run -a scripts/run.sh $*
  Or run it without windows, unattended:    QV_UI=headless scripts/run.sh -info $*
MSG
  exit 1
fi

# Both simulated modules take part (a -f of your own comes later and wins).
export QV_D2XX=${QV_D2XX-$here/resources/two_kmvusb.sim}
exec "$build/trq_32x64" "-f$here/resources/kmvusb_two.ini" "$@"
