#!/usr/bin/env bash
# The Open-folder command in the window (click to the gallery's load-complete) against the
# program's own search plus size reader on the same tree, alternating, medians.
#   bench/window_bench.sh [-n RUNS] [-d BUILD_DIR] TREE
set -euo pipefail
runs=5
build=build/bench
while getopts "n:d:" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    d) build=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
tree=${1:?tree folder}
bench=$build/bench/pictarre-bench
window=$build/bench/pictarre-window-bench
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
list=$(mktemp)
trap 'rm -f "$list"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
now_ms() { date +%s%3N; }

: > /tmp/window_bench.page; : > /tmp/window_bench.command; : > /tmp/window_bench.gap; : > /tmp/window_bench.cli
for i in $(seq "$runs"); do
  line=$("$window" "$tree" 2>/dev/null)
  echo "run $i: $line" >&2
  for key in page command gap; do
    field=$key; [ $key = page ] && field=page_ms; [ $key = command ] && field=command_ms; [ $key = gap ] && field=longest_gap_ms
    echo "$line" | tr ' ' '\n' | sed -n "s/^$field=//p" >> /tmp/window_bench.$key
  done
  t0=$(now_ms)
  "$bench" search "$tree" > "$list"
  tr -d '\r' < "$list" | sed '/^$/d' | "$bench" sizes > /dev/null
  t1=$(now_ms)
  echo $((t1 - t0)) >> /tmp/window_bench.cli
done
page=$(median < /tmp/window_bench.page)
command=$(median < /tmp/window_bench.command)
gap=$(median < /tmp/window_bench.gap)
cli=$(median < /tmp/window_bench.cli)
echo "median click-to-page ${page} ms, command ${command} ms, longest event gap ${gap} ms"
echo "median pictarre-bench search + sizes ${cli} ms"
awk -v p="$page" -v c="$command" -v b="$cli" 'BEGIN {printf "ratio page/(search+sizes) %.2f, command/(search+sizes) %.2f\n", p / b, c / b}'
