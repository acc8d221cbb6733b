#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, a few at a time, and prints what each
# did: executions, speed, time and any failure. New inputs and crashing inputs stay in
# <build>/tests/fuzz/work/<target>/; the committed seeds are only read.
# Usage: run_fuzzers.sh FUZZ_BUILD_DIR SECONDS_EACH PARALLEL_JOBS
set -euo pipefail

build=$(realpath "$1")
seconds=$2
jobs=$3
seeds=$(realpath "$(dirname "$0")/corpus")
cd "$build/tests/fuzz"

run_one() {
  local target=$1 work=$PWD/work/$1
  mkdir -p "$work/corpus" "$work/artifacts"
  local status=0 started=$SECONDS
  "./$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds/$target" >"$work/fuzz.log" 2>&1 ||
    status=$?
  {
    echo "== $target: exit $status after $((SECONDS - started)) s"
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/fuzz.log"
    [ "$status" = 0 ] || grep -B2 -A12 -E 'ERROR|check failed' "$work/fuzz.log" | head -40
  } >"$work/summary.txt"
  cat "$work/summary.txt"
  return "$status"
}
export -f run_one
export seconds seeds

targets=$(find . -maxdepth 1 -name '*_fuzz' -type f -executable -printf '%f\n' | sort)
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}'
