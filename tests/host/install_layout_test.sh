#!/usr/bin/env bash
# "cmake --install" of the build puts every file where the program and the desktop look
# for it: the program and the registration tool in bin, the band library with its help
# page in lib/fetchora (which fetchora finds from bin on its first start), the icon and
# the desktop entry under share.
#
#     install_layout_test.sh BUILD_DIR
set -u
build_dir=$1
prefix=$(mktemp -d /tmp/fetchora-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 || {
    cat "$prefix.log"
    rm -f "$prefix.log"
    echo "FAILED: cmake --install"
    exit 1
}
rm -f "$prefix.log"
status=0
for file in bin/fetchora bin/fetchora-regsvr lib/fetchora/Fetchora.so lib/fetchora/help/index.html \
    share/icons/hicolor/scalable/apps/fetchora.svg share/applications/fetchora.desktop; do
    [ -f "$prefix/$file" ] || { echo "FAILED: $file is not installed"; status=1; }
done
for program in bin/fetchora bin/fetchora-regsvr; do
    [ -x "$prefix/$program" ] || { echo "FAILED: $program is not executable"; status=1; }
done
grep -q '^Exec=fetchora' "$prefix/share/applications/fetchora.desktop" ||
    { echo "FAILED: the desktop entry does not start fetchora"; status=1; }
grep -q '^Icon=fetchora$' "$prefix/share/applications/fetchora.desktop" ||
    { echo "FAILED: the desktop entry does not name the icon"; status=1; }
[ $status -eq 0 ] && echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
exit $status
