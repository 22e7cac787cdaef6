#!/bin/sh
# Times the program's recursive search against a plain C readdir walk and against find, on the
# same tree, warm cache. Runs the three alternately so drift in the machine hits all of them.
#
#   bench/search_bench.sh [-n RUNS] [-b PICTARRE_BENCH] [-w WALKPICS] DIR
#
# Prints the median wall time of each tool and the ratio pictarre/walkpics.
set -eu

runs=7
bench=build/release/bench/pictarre-bench
walk=/tmp/walkpics
while getopts n:b:w: opt; do
    case $opt in
        n) runs=$OPTARG ;;
        b) bench=$OPTARG ;;
        w) walk=$OPTARG ;;
        *) echo "usage: $0 [-n RUNS] [-b PICTARRE_BENCH] [-w WALKPICS] DIR" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "usage: $0 [-n RUNS] [-b PICTARRE_BENCH] [-w WALKPICS] DIR" >&2; exit 2; }
dir=$1
[ "$runs" -ge 5 ] || runs=5
for tool in "$bench" "$walk"; do
    [ -x "$tool" ] || { echo "$0: $tool is not an executable" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# Wall seconds of one command, output discarded.
seconds() {
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

# The search's rules as find tests: dot folders below DIR pruned, regular files only (the
# ",ext," test is a superset of these -iname tests only for names such as "a.jpg,gif").
run_find() {
    find "$1" -mindepth 1 \( -type d -name '.*' -prune \) -o -type f \
        \( -iname '*.jpg' -o -iname '*.gif' -o -iname '*.bmp' \) -print
}

median() {
    sort -n "$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One untimed pass each to warm the cache.
"$bench" search "$dir" >/dev/null
"$walk" -s -e rule -q "$dir" 2>/dev/null
run_find "$dir" >/dev/null

i=0
while [ "$i" -lt "$runs" ]; do
    seconds "$bench" search "$dir" >>"$work/pictarre"
    seconds "$walk" -s -e rule -q "$dir" >>"$work/walkpics"
    seconds run_find "$dir" >>"$work/find"
    i=$((i + 1))
done

p=$(median "$work/pictarre")
w=$(median "$work/walkpics")
f=$(median "$work/find")
printf 'runs:      %d each, alternating, warm cache\n' "$runs"
printf 'pictarre:  %.3f s  (pictarre-bench search DIR >/dev/null)\n' "$p"
printf 'walkpics:  %.3f s  (walkpics -s -e rule -q DIR)\n' "$w"
printf 'find:      %.3f s  (find DIR, dot folders pruned, -type f, three -iname)\n' "$f"
printf 'ratio pictarre/walkpics: %.2f\n' "$(awk -v a="$p" -v b="$w" 'BEGIN { print a / b }')"
printf 'ratio pictarre/find:     %.2f\n' "$(awk -v a="$p" -v b="$f" 'BEGIN { print a / b }')"
