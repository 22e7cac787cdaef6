#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS each (default 60), one after
# another, from seeds made by the tests' own picture makers. Found inputs go to
# build/fuzz/runs/<target>/; a crash or a broken property fails the script.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(header listfile valnum pagewriter)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

runs=build/fuzz/runs
rm -rf "$runs/seeds"
build/fuzz/fuzz/fuzz_make_seeds "$runs/seeds"

failed=()
for t in "${targets[@]}"; do
  dir="$runs/$t"
  mkdir -p "$dir/corpus"
  log="$dir/last-run.log"
  echo "fuzz_$t: ${seconds}s"
  if build/fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$runs/seeds/$t" >"$log" 2>&1; then
    runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ${runs_done:-?} inputs, no failure"
  else
    echo "fuzz_$t: FAILED, see $log" >&2
    tail -n 40 "$log" >&2
    failed+=("$t")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "failing fuzz targets: ${failed[*]}" >&2; exit 1; }
