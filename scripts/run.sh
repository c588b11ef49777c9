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
targets=(fetchora fetchora_band_module)
if cmake --build build/release --target help | grep -q '^fetchora-regsvr:'; then
  targets+=(fetchora-regsvr)
fi
cmake --build build/release -j2 --target "${targets[@]}"

# The browser loads the band registered in the registry: this build's library.
band=build/release/src/band/Fetchora.so
regsvr=build/release/src/regsvr/fetchora-regsvr
if [ -x "$regsvr" ]; then
  "$regsvr" "$band"
else
  echo "fetchora-regsvr is not built; fetchora registers a band library only beside itself" >&2
fi

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
