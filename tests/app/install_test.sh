#!/bin/sh
# Installs the build into a temporary prefix and checks the installed layout: the program in its
# own folder with the show-desktop file beside it, a bin link, the desktop entry and the icon.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install check failed: $*" >&2; exit 1; }
[ -x "$prefix/lib/pictarre/pictarre" ] || fail "program missing"
[ -f "$prefix/lib/pictarre/sys/viewdesk.scf" ] || fail "sys/viewdesk.scf missing"
grep -q '^Command=ToggleDesktop' "$prefix/lib/pictarre/sys/viewdesk.scf" || fail "viewdesk.scf content"
[ -L "$prefix/bin/pictarre" ] || fail "bin/pictarre is not a link"
[ "$(readlink -f "$prefix/bin/pictarre")" = "$(readlink -f "$prefix/lib/pictarre/pictarre")" ] || fail "bin link target"
desktop="$prefix/share/applications/pictarre.desktop"
[ -f "$desktop" ] || fail "desktop entry missing"
grep -q '^Exec=pictarre$' "$desktop" || fail "desktop Exec"
grep -q '^Icon=pictarre$' "$desktop" || fail "desktop Icon"
[ -f "$prefix/share/icons/hicolor/scalable/apps/pictarre.svg" ] || fail "icon missing"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$desktop" || fail "desktop entry invalid"
fi
echo "install layout ok"
