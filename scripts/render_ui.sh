#!/usr/bin/env bash
# Renders a panel of a resource file with the Qt view under Xvfb into a PNG.
#   scripts/render_ui.sh [RESOURCE] [PANEL] [OUT.png] [extra ui_render options]
# Defaults: the test resource, panel 1, build/ui_test.png; needs build/native.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
res=${1:-$here/tests/platform/data/ui_test.uir}
panel=${2:-1}
out=${3:-$here/build/ui_test.png}
shift $(( $# < 3 ? $# : 3 ))
build=${TRQ_BUILD_DIR:-$here/build/native}
cmake --build "$build" --target ui_render >/dev/null
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/ui_qt/ui_render" "$res" "$panel" "$out" "$@"
echo "$out"
