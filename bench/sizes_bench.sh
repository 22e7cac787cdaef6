#!/usr/bin/env bash
# Times the picture size reader and the list-source page writer against the C open+read loop.
#
#   bench/sizes_bench.sh [LIST]
#
# LIST: picture paths, one per line (default: made from $ROOT.manifest.tsv, ROOT=/tmp/pictree).
# Environment: PICTARRE_BENCH (default build/bench/bench/pictarre-bench), WALKPICS (default
# /tmp/walkpics), RUNS (default 7). Runs alternate between the tools so that cache and machine
# load affect all of them alike; the medians and their ratios are printed.
set -euo pipefail

ROOT=${ROOT:-/tmp/pictree}
RUNS=${RUNS:-7}
BENCH=${PICTARRE_BENCH:-build/bench/bench/pictarre-bench}
WALKPICS=${WALKPICS:-/tmp/walkpics}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

LIST=${1:-}
if [[ -z $LIST ]]; then
    LIST=$WORK/pictures.txt
    awk -F'\t' -v root="$ROOT" 'NR > 1 { print root "/" $1 }' "$ROOT.manifest.tsv" >"$LIST"
fi
# The image list file as the search writes it: CR LF line ends and one empty last line.
IMAGE_LIST=$WORK/opendir.tmp
{ sed 's/$/\r/' "$LIST"; printf '\r\n'; } >"$IMAGE_LIST"

for tool in "$BENCH" "$WALKPICS"; do
    [[ -x $tool ]] || { echo "missing $tool" >&2; exit 2; }
done

seconds() {  # seconds COMMAND...: wall time of one run, output discarded
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

sizes=() walk=() page=()
"$BENCH" sizes <"$LIST" >/dev/null 2>&1  # warm the cache once
for ((i = 0; i < RUNS; i++)); do
    sizes+=("$(seconds sh -c '"$1" sizes <"$2"' _ "$BENCH" "$LIST")")
    walk+=("$(seconds "$WALKPICS" -l "$LIST" -q)")
    page+=("$(seconds "$BENCH" page --source list --layout row --web-width 15000 --out "$WORK/picture.htm" "$IMAGE_LIST")")
done

m_sizes=$(printf '%s\n' "${sizes[@]}" | median)
m_walk=$(printf '%s\n' "${walk[@]}" | median)
m_page=$(printf '%s\n' "${page[@]}" | median)
printf 'pictures:                       %d\n' "$(wc -l <"$LIST")"
printf 'pictarre-bench sizes:           %.3f s\n' "$m_sizes"
printf 'walkpics -l LIST -q:            %.3f s\n' "$m_walk"
printf 'pictarre-bench page (list,row): %.3f s\n' "$m_page"
printf 'sizes / walkpics:               %.2f  (target <= 2, aim 1.3)\n' "$(awk -v a="$m_sizes" -v b="$m_walk" 'BEGIN { print a / b }')"
printf 'page / sizes:                   %.2f  (target <= 2)\n' "$(awk -v a="$m_page" -v b="$m_sizes" 'BEGIN { print a / b }')"
