#!/usr/bin/env bash
# The gallery benchmark's cases, one command each, and the table of their figures.
#
#   bench/gallery_bench.sh [-r RESULTS] [-x xvfb|offscreen] [-n RUNS] [-d BUILD_DIR] CASE...
#   bench/gallery_bench.sh [-r RESULTS] table
#
# Each case runs bench/window_bench.sh, appends its RESULT lines to RESULTS (default
# /tmp/gallery-results.txt) and prints them; at the end the table of every line in RESULTS is
# printed. Cases (the trees are built as bench/README-gallery.md says):
#   pictree          Opendir on /tmp/pictree       (200,000 entries, ~19,650 pictures)
#   pictree500       Opendir on /tmp/pictree500    (500,000 entries, ~48,900 pictures)
#   pictree100k      Opendir on /tmp/pictree100k   (500,000 entries, a fifth of them pictures:
#                    ~97,900 found)
#   photos300        Opendir on /tmp/photos300     (300 photos, 4000 x 3000, 9 MB each)
#   photos300-list   OpenList on /tmp/photos300's first picture
#   photos3000       Opendir on /tmp/photos3000    (3,000 photos, 27 GB)
#   photos3000-list  OpenList on /tmp/photos3000's first picture
# Environment: TREES (default /tmp) holds the trees; LIMIT_S (default 900) is each run's
# wall-clock limit; MEM_LIMIT_MB (default 14000) stops a run whose processes pass it together;
# TRACE_DIR, when set, keeps each run's memory samples there (CASE-RUN.csv).
set -euo pipefail
results=/tmp/gallery-results.txt
display=xvfb
runs=1
build=build/bench
while getopts "r:x:n:d:" opt; do
  case $opt in
    r) results=$OPTARG ;;
    x) display=$OPTARG ;;
    n) runs=$OPTARG ;;
    d) build=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { sed -n '2,20p' "$0" >&2; exit 2; }
trees=${TREES:-/tmp}
here=$(dirname "$0")

table() {
  echo "| case | display | status | pictures | CLI search + sizes + page | click → first screen (÷ CLI) | click → page loaded (÷ target) | peak memory, PSS sum (RSS sum) | peak PSS by process kind | longest stall | End → shown | Page Down → shown (worst of 3) | wheel → shown (worst of 3) |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
  grep '^RESULT ' "$results" | awk '
    function s(ms) { return (ms == "" || ms == "-") ? "–" : sprintf("%.2f s", ms / 1000) }
    function ms(x) { return (x == "" || x == "-") ? "–" : x " ms" }
    function gb(mb) { return (mb == "" || mb == "-") ? "–" : sprintf("%.2f GB", mb / 1024) }
    {
      delete v
      for (i = 2; i <= NF; ++i) { p = index($i, "="); v[substr($i, 1, p - 1)] = substr($i, p + 1) }
      st = v["status"]
      if (st == "crashed") st = st " at " s(v["crash_at_ms"])
      fs = s(v["first_screen_ms"]); if (v["first_screen_ratio"] != "") fs = fs " (" v["first_screen_ratio"] ")"
      pg = s(v["page_ms"]); if (v["page_ratio"] != "") pg = pg " (" v["page_ratio"] ")"
      kinds = v["pss_peak_by_kind_mb"]; gsub(",", ", ", kinds); gsub(":", " ", kinds)
      printf "| %s | %s | %s | %s | %s | %s | %s | %s (%s) | %s MB | %s | %s | %s | %s |\n",
        v["tree"], v["display"], st, v["pictures"], s(v["cli_total_ms"]), fs, pg,
        gb(v["pss_peak_mb"]), gb(v["rss_peak_mb"]), kinds, ms(v["stall_ms"]),
        ms(v["end_shown_ms"]), ms(v["pgdn_shown_ms"]), ms(v["wheel_shown_ms"])
    }'
}

run_case() {
  local args=(-n "$runs" -d "$build" -x "$display" -l "${LIMIT_S:-900}" -m "${MEM_LIMIT_MB:-14000}" -N "$1")
  [ -z "${TRACE_DIR:-}" ] || args+=(-t "$TRACE_DIR")
  case $1 in
    pictree) args+=("$trees/pictree") ;;
    pictree500) args+=("$trees/pictree500") ;;
    pictree100k) args+=("$trees/pictree100k") ;;
    photos300) args+=(-w "$trees/photos300") ;;
    photos300-list) args+=(-w -o openlist "$trees/photos300") ;;
    photos3000) args+=("$trees/photos3000") ;;
    photos3000-list) args+=(-o openlist "$trees/photos3000") ;;
    *) echo "unknown case $1" >&2; return 2 ;;
  esac
  "$here/window_bench.sh" "${args[@]}" | tee -a "$results"
}

for c in "$@"; do
  [ "$c" = table ] || run_case "$c"
done
table
