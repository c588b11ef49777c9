#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy, every finding an error) on the sources that
# changed since a base revision: the files of src/ that differ between the base and the
# work tree, with the source of each changed header. The base is TIDY_BASE, else the
# revision named in .ci/tidy-base (code older than it was written before the checks and
# is checked when it next changes). Usage: scripts/tidy.sh [BUILD_DIR] (default build/dev,
# configured here when it has no compile_commands.json).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/dev}
base=${TIDY_BASE:-$(cat .ci/tidy-base)}
if ! git cat-file -e "$base^{commit}" 2>/dev/null; then
  echo "tidy.sh: base revision $base is not in this clone; checking every source" >&2
  base=$(git hash-object -t tree /dev/null)
fi
[ -f "$build_dir/compile_commands.json" ] || cmake --preset dev -B "$build_dir" >/dev/null

mapfile -t changed < <(git diff --name-only "$base" -- src | sort -u)
mapfile -t added < <(git ls-files --others --exclude-standard -- src)
sources=()
for f in "${changed[@]}" "${added[@]}"; do
  [ -f "$f" ] || continue
  case "$f" in
    *.cpp) sources+=("$f") ;;
    *.h) [ -f "${f%.h}.cpp" ] && sources+=("${f%.h}.cpp") ;;
  esac
done
mapfile -t sources < <(printf '%s\n' "${sources[@]}" | sort -u | sed '/^$/d')
if [ ${#sources[@]} -eq 0 ]; then
  echo "==> clang-tidy: no source changed since $base"
  exit 0
fi
echo "==> clang-tidy on ${#sources[@]} changed sources (since ${base:0:12})"
# -Wno-restrict is GCC's; clang does not know it.
printf '%s\n' "${sources[@]}" |
  xargs -P 2 -n 4 clang-tidy -p "$build_dir" --quiet --extra-arg=-Wno-unknown-warning-option \
    2>/dev/null
echo "==> clang-tidy: no findings"
