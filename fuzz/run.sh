#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS each (default 60), one after
# another, from seeds made by the tests' own picture makers. Found inputs go to
# build/fuzz/runs/<target>/; a crash or a broken property fails the script.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(header listfile valnum pagewriter gallery copy)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

runs=build/fuzz/runs
rm -rf "$runs/seeds"
build/fuzz/fuzz/fuzz_make_seeds "$runs/seeds"

# The gallery's scripts must read back in double-byte locales too: its target runs again under
# GB18030, a locale made in the build tree for the run.
locales="$PWD/build/fuzz/locales"
mkdir -p "$locales"
[ -d "$locales/zh_CN.GB18030" ] || localedef -i zh_CN -f GB18030 "$locales/zh_CN.GB18030"
targets+=(gallery@zh_CN.GB18030)

failed=()
for run in "${targets[@]}"; do
  t="${run%@*}"
  locale=C.UTF-8
  [ "$run" = "$t" ] || locale="${run#*@}"
  dir="$runs/$run"
  mkdir -p "$dir/corpus"
  log="$dir/last-run.log"
  echo "fuzz_$run: ${seconds}s"
  if LC_ALL="$locale" LOCPATH="$locales:/usr/lib/locale" build/fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$runs/seeds/$t" >"$log" 2>&1; then
    runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$run: ${runs_done:-?} inputs, no failure"
  else
    echo "fuzz_$run: FAILED, see $log" >&2
    tail -n 40 "$log" >&2
    failed+=("$run")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "failing fuzz targets: ${failed[*]}" >&2; exit 1; }
