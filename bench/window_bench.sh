#!/usr/bin/env bash
# The gallery in the real window, from the click, against the command-line search + sizes + page
# on the same pictures: one RESULT line of key=value figures per run on standard output.
#
#   bench/window_bench.sh [-n RUNS] [-d BUILD_DIR] [-o opendir|openlist|openimg] [-x xvfb|offscreen]
#                         [-l LIMIT_S] [-m MEM_LIMIT_MB] [-t TRACE_DIR] [-N NAME] [-w] PATH
#
# opendir: PATH is the folder tree the folder chooser answers with. openlist/openimg: PATH is a
# picture, or a folder whose first *.jpg the Open dialog answers with. -x xvfb (the default) runs
# the window under a virtual X display, offscreen on Qt's offscreen platform. -w reads every
# picture file once before the runs (for folders that fit in the page cache). -t keeps each
# run's memory samples as TRACE_DIR/NAME-RUN.csv. -N names the tree in the RESULT lines.
#
# The command-line reference, timed after each window run: pictarre-bench search (the image list
# file's bytes), pictarre-bench sizes on that list, and pictarre-bench page writing the same page
# (list source and row layout for opendir; folder source, row or flow layout for openlist and
# openimg; the search is recursive, so for these two the reference fits a folder without
# subfolders, as the photo folders are). Targets derived in each line: first screen within 1.5x of search + sizes + page, page
# loaded within max(2 x first screen, first screen + 5 s), peak memory under 1 GB.
set -euo pipefail
runs=1
build=build/bench
open=opendir
display=xvfb
limit=900
memlimit=14000
tracedir=
name=
warm=0
while getopts "n:d:o:x:l:m:t:N:w" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    d) build=$OPTARG ;;
    o) open=$OPTARG ;;
    x) display=$OPTARG ;;
    l) limit=$OPTARG ;;
    m) memlimit=$OPTARG ;;
    t) tracedir=$OPTARG ;;
    N) name=$OPTARG ;;
    w) warm=1 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
path=${1:?folder tree or picture}
[ -n "$name" ] || name=$(basename "$path")
bench=$build/bench/pictarre-bench
window=$build/bench/pictarre-window-bench
[ -x "$bench" ] && [ -x "$window" ] || { echo "build first: cmake --preset bench && cmake --build --preset bench -j2" >&2; exit 2; }

export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
case $display in
  xvfb) command -v xvfb-run > /dev/null || { echo "xvfb-run missing (Debian package xvfb)" >&2; exit 2; }
        launch=(xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb) ;;
  offscreen) launch=(env QT_QPA_PLATFORM=offscreen) ;;
  *) echo "-x xvfb|offscreen" >&2; exit 2 ;;
esac

# The folder the command-line reference works on, and its page's source and layout.
if [ "$open" = opendir ]; then
  folder=$path
  layout=row
else
  if [ -d "$path" ]; then folder=$path; else folder=$(dirname "$path"); fi
  layout=row
  [ "$open" = openimg ] && layout=flow
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now_ns() { date +%s%N; }

cli() {
  local t0 t1 t2 t3
  t0=$(now_ns)
  "$bench" search "$folder" > "$work/list"
  t1=$(now_ns)
  tr -d '\r' < "$work/list" | sed '/^$/d' | "$bench" sizes > /dev/null
  t2=$(now_ns)
  if [ "$open" = opendir ]; then
    "$bench" page --source list --layout row --web-width 11880 --out "$work/page.htm" "$work/list"
  else
    "$bench" page --source folder --layout "$layout" --web-width 11880 --out "$work/page.htm" "$folder"
  fi
  t3=$(now_ns)
  echo "cli_search_ms=$(((t1 - t0) / 1000000)) cli_sizes_ms=$(((t2 - t1) / 1000000))" \
       "cli_page_ms=$(((t3 - t2) / 1000000)) cli_total_ms=$(((t3 - t0) / 1000000))"
}

# Warm the cache: the folders and picture headers always, the whole files with -w.
cli > /dev/null
if [ "$warm" -eq 1 ]; then
  tr -d '\r' < "$work/list" | sed '/^$/d' | tr '\n' '\0' | xargs -0 cat > /dev/null
fi

for i in $(seq "$runs"); do
  args=(--open "$open" --limit-s "$limit" --mem-limit-mb "$memlimit")
  [ -z "$tracedir" ] || { mkdir -p "$tracedir"; args+=(--trace "$tracedir/$name-$i.csv"); }
  # The benchmark ends its own engine processes; a hard stop a minute past the limit is the
  # last resort.
  line=$(timeout -k 10 $((limit + 120)) "${launch[@]}" "$window" "${args[@]}" "$path" 2> "$work/stderr") || true
  [ -n "$line" ] || line="status=no-output $(tail -1 "$work/stderr" | tr ' ' '_')"
  ref=$(cli)
  echo "RESULT tree=$name run=$i display=$display $line $ref" | awk '
    {
      for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      fs = v["first_screen_ms"]; pg = v["page_ms"]; cli = v["cli_total_ms"]; pss = v["pss_peak_mb"]
      extra = ""
      if (fs != "" && fs != "-" && cli > 0) extra = extra sprintf(" first_screen_ratio=%.2f", fs / cli)
      if (fs != "" && fs != "-") {
        target = (2 * fs > fs + 5000) ? 2 * fs : fs + 5000
        extra = extra " page_target_ms=" target
        if (pg != "" && pg != "-") extra = extra sprintf(" page_ratio=%.2f", pg / target)
      }
      if (pss != "" && pss != "-") extra = extra " mem_under_1gb=" (pss < 1024 ? "yes" : "no")
      print $0 extra
    }'
done
