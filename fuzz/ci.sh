#!/usr/bin/env bash
# A short fuzzing run of each target, as CI runs it: builds the targets
# (fuzz/build.sh installs clang and libFuzzer when missing), then fuzzes
# each one for FUZZ_SECONDS (default 30) from its kept corpus, the seeds and
# the kept findings. Fails on any finding: a crash, a sanitizer report, a
# leak, a time-out or an out-of-memory. The finding's bytes are printed, so
# the CI log keeps them, and left in build-fuzz/ci/<target>/.
#
#   fuzz/ci.sh [build-dir]     (default: build-fuzz)
#
# New inputs go to build-fuzz/ci/<target>/new, never into fuzz/corpus: a
# campaign that means to keep them merges them as fuzz/README.md describes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-30}"
start=$SECONDS
. "$root/fuzz/limits.sh"

"$root/fuzz/build.sh" "$out"
rm -rf "$out/seeds"
"$out/seed_writer" "$out/seeds"

# The three targets fuzz at the same time (the machine's cores share them);
# their results are told in turn once all have ended.
run_target() {
  local target=$1 work="$out/ci/$1" limits
  fuzz_limits "$target"
  rm -rf "$work"
  mkdir -p "$work/new" "$work/findings"
  local inputs=("$root/fuzz/corpus/$target" "$out/seeds/$target")
  [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")
  "$out/fuzz_$target" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/new" "${inputs[@]}" >"$work/log" 2>&1
}

declare -A pid
for target in chunks packets merge; do
  echo "fuzz_$target: ${seconds} s"
  run_target "$target" &
  pid[$target]=$!
done
failed=0
for target in chunks packets merge; do
  work="$out/ci/$target"
  if ! wait "${pid[$target]}"; then
    failed=1
    tail -n 60 "$work/log"
    for finding in "$work"/findings/*; do
      [ -e "$finding" ] || continue
      echo "fuzz_$target: finding $(basename "$finding"), $(stat -c %s "$finding") bytes:"
      od -A d -t x1 -v "$finding" | head -n 64
    done
    echo "fuzz_$target: FAILED"
  else
    echo "fuzz_$target:"
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/log"
  fi
done
echo "fuzz: done in $((SECONDS - start)) s"
exit $failed
