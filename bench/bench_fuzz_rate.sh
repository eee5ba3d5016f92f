#!/usr/bin/env bash
# The executions per second of a fuzz target in two builds of the targets
# (fuzz/build.sh), in turns, each round from a fresh copy of the kept corpus
# alone, with the limits of fuzz/limits.sh; also cov and ft after the replay
# of that corpus (libFuzzer's INITED line), which must not differ.
#
#   bench/bench_fuzz_rate.sh TARGET BUILD_A BUILD_B [SECONDS] [ROUNDS]
#   e.g. bench/bench_fuzz_rate.sh merge /tmp/before/build-fuzz build-fuzz 20 3
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target=$1 a=$2 b=$3 seconds=${4:-20} rounds=${5:-3}
. "$root/fuzz/limits.sh"
fuzz_limits "$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for round in $(seq "$rounds"); do
  for build in "$a" "$b"; do
    rm -rf "$work/corpus" && cp -r "$root/fuzz/corpus/$target" "$work/corpus"
    log=$("$build/fuzz_$target" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      "$work/corpus" 2>&1 || true)
    inited=$(grep -m1 -o 'INITED cov: [0-9]* ft: [0-9]*' <<<"$log")
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' <<<"$log" | grep -o '[0-9]*$')
    echo "round $round  $build  $inited  runs $runs  exec/s $((runs / seconds))"
  done
done
