#!/bin/sh
# Checks an installed copy below PREFIX (a temporary install, an unpacked package or the machine's
# /usr): the program in its own folder with the show-desktop file beside it, the bin link, the
# desktop entry that offers the program for pictures and folders, the icon as SVG and in every
# bitmap size desktops ask for, the metainfo, the copyright file and the manual page; the desktop
# entry and the metainfo must pass the desktop's own validators, the manual page must render.
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

copyright="$prefix/share/doc/pictarre/copyright"
[ -f "$copyright" ] || fail "copyright file missing"
[ "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] \
  || fail "copyright file is not in the machine-readable format"
grep -qx 'Files: \*' "$copyright" || fail "copyright file has no paragraph for all files"
# Every licence that a Files paragraph names has a paragraph of its own with its text.
licences=$(awk '/^Files:/ { files = 1 } /^$/ { files = 0 } files && /^License:/ { print $2 }' "$copyright")
[ -n "$licences" ] || fail "copyright file names no licence"
for name in $licences; do
  awk -v name="$name" 'BEGIN { RS = "" } $1 == "License:" && $2 == name && NF > 2 { found = 1 } END { exit !found }' \
    "$copyright" || fail "copyright file has no text for licence $name"
done

page="$prefix/share/man/man1/pictarre.1.gz"
[ -f "$page" ] || fail "manual page missing"
gzip -t "$page" || fail "manual page is not gzip"
# Rendered as man shows it (no hyphenation, so that names stay whole), with no formatter warning.
render() { LC_ALL=C.UTF-8 MANWIDTH=100 man --nh --nj --warnings -l "$page"; }
rendered=$(render 2>/dev/null) || fail "man cannot render the manual page"
warnings=$(render 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "manual page warnings: $warnings"
for text in 'pictarre - browse' 'SYNOPSIS' '-h, --help' '-v, --version' 'picture.htm' 'temp/opendir.tmp' \
            '~/.local/share/pictarre/' 'Open With' 'QTWEBENGINE_DISABLE_SANDBOX'; do
  printf '%s\n' "$rendered" | grep -qF -- "$text" || fail "manual page lacks \"$text\""
done
