#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vellmir
# need. Does nothing when they are all present already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  # Linux program
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxi-dev
  # the Flash emulator's package (npm)
  nodejs npm
  # Windows cross build and its tests
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  # unit tests
  googletest
  # end-to-end tests
  xvfb xauth xdotool imagemagick x11-utils python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
