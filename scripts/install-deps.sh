#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vellmir
# need. Does nothing when they are all present already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  # Linux program
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxi-dev
  # Windows cross build and its tests
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  # unit tests, the ThreadSanitizer and libFuzzer runs
  googletest clang libclang-rt-14-dev libxtst-dev x11-xkb-utils
  # benchmarks
  valgrind bc
  # the demo game, and its sound at the end-to-end tests' own sound server
  haxe gstreamer1.0-plugins-good gstreamer1.0-pulseaudio pulseaudio pulseaudio-utils
  # end-to-end tests; a Chinese font, so that the Chinese error page reads on screen
  xvfb xauth xdotool imagemagick x11-utils python3 fonts-wqy-microhei
  # end-to-end tests of the desktop portal's global shortcuts: a private bus,
  # the real portal frontend, and a backend of the tests' own in Python
  dbus-daemon dbus-bin libglib2.0-bin xdg-desktop-portal python3-gi
  # ... with a desktop's real backend: KDE's (it brings kglobalaccel5)
  xdg-desktop-portal-kde
  # ... and in a real Wayland session: sway headless with XWayland, a native
  # Wayland window, a Wayland virtual keyboard (setpriv is in util-linux)
  sway xwayland foot wtype util-linux
  # packages (make package) and their tests
  dpkg-dev file nsis lintian appstream desktop-file-utils man-db
  # the format check of changed lines (git clang-format)
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# node and npm fetch the pinned Flash emulator; a node from elsewhere that
# brings its own npm will do.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
