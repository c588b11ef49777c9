#!/usr/bin/env bash
# Builds and runs every test: a normal build, clang-tidy on the sources changed since
# .ci/tidy-base, a build under AddressSanitizer and UndefinedBehaviorSanitizer, then each
# fuzz target for a short time. Installs what it needs. With --quick only the normal
# build and its tests run.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/deps.sh build test
[ $quick -eq 1 ] || scripts/deps.sh tidy fuzz

# Real peers on loopback: nginx serving files and a proxy in front of it.
source scripts/peers.sh
start_peers
trap stop_peers EXIT

run_suite() {
  local preset=$1
  echo "==> Building ($preset)"
  cmake --preset "$preset" -DFETCHORA_WERROR=ON >/dev/null
  cmake --build "build/$preset" -j2
  echo "==> Testing ($preset)"
  ctest --test-dir "build/$preset" --output-on-failure -j2 --timeout 300
}

run_suite dev
if [ $quick -eq 0 ]; then
  scripts/tidy.sh build/dev
  run_suite asan
  scripts/fuzz.sh
fi
echo "==> All tests passed"
