#!/usr/bin/env bash
# Pictures of TRQ's main window under Xvfb, expanded and collapsed, with one
# and with two emulated modules: build/program-{one,two}-{expanded,collapsed}.png.
# Uses a registry and data directory of its own; needs build/native.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TRQ_BUILD_DIR:-$here/build/native}
cmake --build "$build" --target program_render >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 700 "$scratch"
export XDG_RUNTIME_DIR=$scratch QV_REGISTRY_DIR=$scratch/reg XDG_DATA_HOME=$scratch/data
for n in one two; do
  m=1; [ $n = two ] && m=2
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/program_qt/program_render" "$here/build/program-$n" -s1 -m$m -info -silent "$@"
  echo "$here/build/program-$n-expanded.png $here/build/program-$n-collapsed.png"
done
