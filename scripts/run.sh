#!/usr/bin/env bash
# Builds Fetchora (installing what the build needs), registers the band library it built
# and starts the browser window on its start page; arguments go to the program
# ("scripts/run.sh URL" opens that page, "scripts/run.sh --add URL..." queues addresses
# without opening a window).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build run
echo "==> Building Fetchora (build/release)"
cmake --preset release >/dev/null
cmake --build build/release -j2 --target fetchora fetchora_band_module fetchora_regsvr

# The browser loads the band registered in the registry: this build's library.
build/release/src/regsvr/fetchora-regsvr build/release/src/band/Fetchora.so

# "fetchora --add URL..." queues addresses from a terminal and needs no display.
if [ "${1:-}" != --add ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
   [ -z "${QT_QPA_PLATFORM:-}" ]; then
  # Without a display the window cannot show; a virtual one is installed so that the hint
  # below works as it stands.
  scripts/deps.sh xvfb
  echo "Fetchora needs a graphical display: no DISPLAY or WAYLAND_DISPLAY is set (try: xvfb-run -a scripts/run.sh)."
  exit 1
fi
echo "==> Starting Fetchora"
exec build/release/src/host/fetchora "$@"
