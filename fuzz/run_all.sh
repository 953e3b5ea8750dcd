#!/usr/bin/env bash
# Runs every fuzz target, one after the other, for SECONDS each and prints
# each one's runs per second.
#   fuzz/run_all.sh SECONDS [BUILD_DIR] [OUT_DIR]
# BUILD_DIR holds the targets (default build/fuzz/fuzz, after
# TRQ_CONFIGS=fuzz ./scripts/test.sh). The seeds in fuzz/corpus/NAME are only
# read; new inputs go to OUT_DIR/corpus/NAME and a finding (crash, leak,
# undefined behaviour, time-out) to OUT_DIR/NAME-crash-... (default OUT_DIR
# build/fuzz-runs). Exits 1 when any target found something.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz/run_all.sh SECONDS [BUILD_DIR] [OUT_DIR]}
bin=${2:-$here/build/fuzz/fuzz}
out=${3:-$here/build/fuzz-runs}
mkdir -p "$out"

status=0
for target in "$bin"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  name=${name#fuzz_}
  mkdir -p "$out/corpus/$name"
  log="$out/$name.log"
  seeds=()
  [ -d "$here/fuzz/corpus/$name" ] && seeds=("$here/fuzz/corpus/$name")
  "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/$name-" \
    "$out/corpus/$name" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $rc -eq 0 ]; then
    printf '%-12s %10s runs %8s runs/s\n' "$name" "${runs:-?}" "${rate:-?}"
  else
    printf '%-12s FOUND SOMETHING (exit %d): see %s\n' "$name" "$rc" "$log"
    status=1
  fi
done
exit $status
