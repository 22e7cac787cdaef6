#!/usr/bin/env bash
# Pictarre's everyday commands on Debian 12:
#   ./dev.sh run      install what is missing, build the program alone (no tests, no benchmark
#                     tool), start it
#   ./dev.sh test     install what is missing, build and run every test (release, a minute of
#                     fuzzing per fuzz target, then the sanitizer build)
#   ./dev.sh package  install what is missing, build the Debian package
#                     build/package/pictarre_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev qt6-pdf-dev locales
  libgtest-dev libgmock-dev
  libjpeg-dev liblcms2-dev
  xdg-utils wmctrl fonts-noto-cjk qt6-translations-l10n
  librsvg2-bin dpkg-dev desktop-file-utils appstream man-db
  xvfb xauth
  nodejs chromium
  clang libclang-rt-14-dev
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build PRESET [TARGET]: configures and builds the preset, all of it or only TARGET and what it needs.
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)" ${2:+--target "$2"}
}

case "${1:-}" in
  run)
    install_missing
    build release pictarre
    # The browser engine will not start its sandbox for root; a root session runs it without.
    if [ "$(id -u)" -eq 0 ]; then
      echo "Running as root: the browser engine's sandbox is off for this session." >&2
      export QTWEBENGINE_DISABLE_SANDBOX=1
    fi
    exec build/release/src/app/pictarre
    ;;
  test)
    install_missing
    build release
    ctest --preset release -j 2
    fuzz/run.sh 60
    build asan
    ctest --preset asan -j 2
    ;;
  package)
    install_missing
    cmake --preset package >/dev/null
    cmake --build --preset package -j "$(nproc)" --target package
    ;;
  *)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac
