#!/usr/bin/env bash
# Runs fuzz targets for a bounded time, two at a time, from the starting
# corpus in tests/fuzz/corpus (new inputs go to a scratch corpus, the starting
# inputs stay as they are). Prints each target's executions per second and the coverage reached;
# fails if any target finds a crash, which is left as build/.../crash-* and
# belongs, once fixed, in tests/fuzz/regressions/TARGET/.
#
#   tools/fuzz.sh BUILD_DIR SECONDS TARGET...
set -euo pipefail
build=$1
seconds=$2
shift 2
source=$(pwd)
work=$build/fuzz-runs
mkdir -p "$work"

run_one() { # target
  local target=$1
  mkdir -p "$work/$target/corpus"
  (cd "$work/$target" &&
    "$source/$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 corpus "$source/tests/fuzz/corpus/$target" \
      >log 2>&1)
}

status=0
while [ $# -gt 0 ]; do
  pids=()
  names=()
  for _ in 1 2; do
    [ $# -gt 0 ] || break
    run_one "$1" &
    pids+=($!)
    names+=("$1")
    shift
  done
  for k in "${!pids[@]}"; do
    log=$work/${names[$k]}/log
    if wait "${pids[$k]}"; then
      total=$(sed -n 's/.*(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
      done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
      cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$done_line")
      rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
      printf '%-18s %9s runs %7s exec/s  coverage %s of %s edges\n' \
        "${names[$k]}" "$runs" "$rate" "$cov" "$total"
    else
      echo "${names[$k]}: FAILED (see $log)"
      grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
      status=1
    fi
  done
done
exit $status
