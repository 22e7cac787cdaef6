#!/bin/sh
# Installs the build into a temporary prefix and checks what it laid out.
set -eu
build=$1
here=$(dirname "$0")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
sh "$here/check_installed.sh" "$prefix"
echo "install layout ok"
