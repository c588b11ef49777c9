#!/usr/bin/env bash
# Installs the Debian packages a group needs when any of them is missing.
# Usage: scripts/deps.sh build|test|tidy|fuzz|bench|run|xvfb ...
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    build) packages+=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev qt6-webengine-dev libssl-dev openssl) ;;
    test)  packages+=(libgtest-dev libgmock-dev nginx-light tinyproxy xvfb xauth xdotool qt6-qpa-plugins) ;;
    tidy)  packages+=(clang-tidy) ;;
    fuzz)  packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(libpcre2-dev curl wget nginx-light) ;;
    run)   packages+=(qt6-qpa-plugins fonts-dejavu-core) ;;
    xvfb)  packages+=(xvfb xauth) ;;
    *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "==> Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "deps.sh: these packages are missing and I am not root: ${missing[*]}" >&2; exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "==> Packages installed"
