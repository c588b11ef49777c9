#!/usr/bin/env bash
# Builds Fetchora (installing what the build needs) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build run
echo "==> Building Fetchora (build/release)"
cmake --preset release >/dev/null
cmake --build build/release -j2 --target fetchora

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "Fetchora needs a graphical display: no DISPLAY or WAYLAND_DISPLAY is set (try: xvfb-run scripts/run.sh)."
  exit 1
fi
echo "==> Starting Fetchora"
exec build/release/src/host/fetchora "$@"
