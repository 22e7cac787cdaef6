#!/bin/sh
# Checks an installed copy below PREFIX (a temporary install, an unpacked package or the machine's
# /usr): the program in its own folder with the show-desktop file beside it, the bin link, the
# desktop entry that offers the program for pictures and folders, the icon as SVG and in every
# bitmap size desktops ask for, and the metainfo; the desktop entry and the metainfo must pass
# the desktop's own validators.
set -eu
prefix=$1
fail() { echo "installed copy below $prefix: $*" >&2; exit 1; }

[ -x "$prefix/lib/pictarre/pictarre" ] || fail "program missing"
[ -f "$prefix/lib/pictarre/sys/viewdesk.scf" ] || fail "sys/viewdesk.scf missing"
grep -q '^Command=ToggleDesktop' "$prefix/lib/pictarre/sys/viewdesk.scf" || fail "viewdesk.scf content"
[ -L "$prefix/bin/pictarre" ] || fail "bin/pictarre is not a link"
[ "$(readlink "$prefix/bin/pictarre")" = "../lib/pictarre/pictarre" ] || fail "bin link target"

desktop="$prefix/share/applications/pictarre.desktop"
[ -f "$desktop" ] || fail "desktop entry missing"
grep -qx 'Exec=pictarre %f' "$desktop" || fail "desktop Exec"
grep -qx 'Icon=pictarre' "$desktop" || fail "desktop Icon"
grep -qx 'MimeType=image/jpeg;image/gif;image/bmp;inode/directory;' "$desktop" || fail "desktop MimeType"
desktop-file-validate "$desktop" || fail "desktop entry invalid"

icons="$prefix/share/icons/hicolor"
[ -f "$icons/scalable/apps/pictarre.svg" ] || fail "SVG icon missing"
# A PNG's width and height are the two big-endian words after its signature and IHDR header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1*256+$2)*256+$3)*256+$4, (($5*256+$6)*256+$7)*256+$8 }'; }
for size in 16 22 24 32 48 64 128 256; do
  png="$icons/${size}x$size/apps/pictarre.png"
  [ -f "$png" ] || fail "icon ${size}x$size missing"
  [ "$(png_size "$png")" = "${size}x$size" ] || fail "icon ${size}x$size is $(png_size "$png")"
done

metainfo="$prefix/share/metainfo/org.pictarre.Pictarre.metainfo.xml"
[ -f "$metainfo" ] || fail "metainfo missing"
grep -q '<summary xml:lang="zh-CN">' "$metainfo" || fail "metainfo has no Chinese summary"
grep -q '<launchable type="desktop-id">pictarre.desktop</launchable>' "$metainfo" || fail "metainfo launchable"
appstreamcli validate --no-net "$metainfo" >/dev/null || { appstreamcli validate --no-net "$metainfo" >&2; fail "metainfo invalid"; }
