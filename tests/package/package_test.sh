#!/bin/sh
# Builds the Debian package from BUILD and checks it: its name, its control fields and its file
# list with dpkg-deb, and the unpacked files as an installed copy. In CI as root it also installs
# the package into the machine, runs the installed program, and removes the package again,
# checking that nothing of it is left.
set -eu
build=$1
version=$2
here=$(dirname "$0")
work=$(mktemp -d)
installed_here=no
cleanup() {
  if [ "$installed_here" = yes ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq pictarre >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package check failed: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb="$work/pictarre_${version}_$arch.deb"
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$work")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pictarre ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
# Each dependency once by name, with or without a version: from shlibdeps the Qt and C++
# libraries and the engine's helper process, from the package's own list the rest.
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for name in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 \
            libqt6webenginecore6 libqt6webenginewidgets6 libqt6webenginecore6-bin \
            qt6-translations-l10n xdg-utils wmctrl fonts-noto-cjk; do
  echo "$depends" | grep -qx "$name" || fail "Depends lacks $name: $(field Depends)"
done

# Every entry that is not a folder, exactly: nothing missing, nothing stray (no test program,
# no header, no build file).
dpkg-deb -c "$deb" >"$work/listing"
awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' "$work/listing" | sort >"$work/files"
cat >"$work/expected" <<LIST
./usr/bin/pictarre -> ../lib/pictarre/pictarre
./usr/lib/pictarre/pictarre
./usr/lib/pictarre/sys/viewdesk.scf
./usr/share/applications/pictarre.desktop
./usr/share/doc/pictarre/copyright
./usr/share/icons/hicolor/128x128/apps/pictarre.png
./usr/share/icons/hicolor/16x16/apps/pictarre.png
./usr/share/icons/hicolor/22x22/apps/pictarre.png
./usr/share/icons/hicolor/24x24/apps/pictarre.png
./usr/share/icons/hicolor/256x256/apps/pictarre.png
./usr/share/icons/hicolor/32x32/apps/pictarre.png
./usr/share/icons/hicolor/48x48/apps/pictarre.png
./usr/share/icons/hicolor/64x64/apps/pictarre.png
./usr/share/icons/hicolor/scalable/apps/pictarre.svg
./usr/share/man/man1/pictarre.1.gz
./usr/share/metainfo/org.pictarre.Pictarre.metainfo.xml
LIST
sort -o "$work/expected" "$work/expected"
diff -u "$work/expected" "$work/files" >&2 || fail "file list"
grep -q '^-rwxr-xr-x root/root .* \./usr/lib/pictarre/pictarre$' "$work/listing" || fail "program mode or owner"
dpkg-deb -x "$deb" "$work/unpacked"
sh "$here/check_installed.sh" "$work/unpacked/usr"

if [ "${CI:-}" != true ] || [ "$(id -u)" -ne 0 ]; then
  echo "package ok (checked with dpkg-deb; CI as root also installs it)"
  exit 0
fi
if dpkg-query -W pictarre >/dev/null 2>&1; then
  fail "a pictarre package is installed on this machine already; not touching it"
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install"; }
installed_here=yes
dpkg-query -L pictarre >"$work/owned"
sh "$here/check_installed.sh" /usr
[ "$(pictarre --version)" = "pictarre $version" ] || fail "installed pictarre --version: $(pictarre --version)"

# The installed program, started with a folder as a file manager starts it, searches it and
# writes its gallery (beside itself, since root may write there).
mkdir -p "$work/pictures/sub"
cp "$here/../../resources/pictarre.svg" "$work/pictures/not-a-picture.svg"
printf 'GIF89a\001\000\001\000\000\000\000;' >"$work/pictures/sub/one.gif"
HOME="$work/home" pictarre "$work/pictures" >"$work/run.log" 2>&1 &
program=$!
page=/usr/lib/pictarre/picture.htm
for _ in $(seq 1 120); do
  grep -q 'one.gif' "$page" 2>/dev/null && break
  sleep 0.5
done
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
grep -q 'one.gif' "$page" || { cat "$work/run.log" >&2; fail "installed program wrote no gallery for its folder argument"; }
[ "$(cat /usr/lib/pictarre/temp/opendir.tmp)" = "$(printf '%s\r\n\r' "$work/pictures/sub/one.gif")" ] \
  || fail "installed program's list file: $(od -c /usr/lib/pictarre/temp/opendir.tmp | head)"

DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq pictarre >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove"; }
installed_here=no
! dpkg-query -W pictarre >/dev/null 2>&1 || fail "still known to dpkg after purge"
while read -r path; do
  case "$path" in /usr|/usr/bin|/usr/lib|/usr/share|/usr/share/applications|/usr/share/icons*|/usr/share/metainfo|/usr/share/doc|/usr/share/man|/usr/share/man/man1) continue ;; esac
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "left after purge: $path"
done <"$work/owned"
[ ! -e /usr/lib/pictarre ] || fail "left after purge: /usr/lib/pictarre ($(ls -A /usr/lib/pictarre))"
echo "package ok (installed, run and purged)"
