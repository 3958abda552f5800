#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; quick when all is there.
#   scripts/deps.sh        everything the test command needs
#   scripts/deps.sh run    only what building the Linux program needs
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest
  libgtk-3-dev libssl-dev
)
if [ "${1:-}" != run ]; then
  packages+=(
    git libbenchmark-dev clang libclang-rt-14-dev clang-tidy
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
    xvfb xdotool x11-utils x11-xkb-utils imagemagick openbox wmctrl
    python3 curl openssl
    dpkg-dev desktop-file-utils
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
