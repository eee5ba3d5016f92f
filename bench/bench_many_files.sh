#!/usr/bin/env bash
# The cost of opening a file: one run over many small files (a folder of a
# run's files), pair by pair in the same rounds:
#   mvscan FILES...          (file check)      against  cat FILES... > /dev/null
#   mvscan -p FILES...       (statistics)      against  cat FILES... > /dev/null
#   mvscan FILES.zst...      (file check)      against  zstd -dc FILES.zst... > /dev/null
#   mvscan FILES... and -p   against  BASELINE the same (an older build, if given)
#
#   bench/bench_many_files.sh [path/to/mvscan] [files]     (default 2000)
#
# Each file is a copy of one small mvgen file (mvgen -n 100, 100 packets).
# Environment: RUNS (default 7), MVGEN, BASELINE. The files are made in a
# fresh folder under /tmp, read once to warm the page cache, and removed
# at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pairs.sh"
bench_programs "${1:-}" 0
count=${2:-2000}
baseline=${BASELINE:+$(realpath "$BASELINE")}

work=$(mktemp -d /tmp/mvscan-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$mvgen" -n 100 -o one.mv >/dev/null
zstd -q -k one.mv
for ((i = 1; i <= count; i++)); do
  cp one.mv "f$i.mv"
  cp one.mv.zst "f$i.mv.zst"
done
rm one.mv one.mv.zst
cat f*.mv f*.mv.zst >/dev/null
echo "$count files of $(stat -c %s f1.mv) bytes (.zst $(stat -c %s f1.mv.zst) bytes)"

files=$(ls f*.mv | sort -V | tr '\n' ' ')
zfiles=$(ls f*.mv.zst | sort -V | tr '\n' ' ')
p="-p --no-image --no-progress"
pairs_header
pairs "$runs" "check vs cat" "$mvscan $files" "cat $files > /dev/null"
pairs "$runs" "-p vs cat" "$mvscan $p $files" "cat $files > /dev/null"
pairs "$runs" "check .zst vs zstd -dc" "$mvscan $zfiles" "zstd -dcq $zfiles > /dev/null"
if [[ -n $baseline ]]; then
  pairs "$runs" "check vs baseline" "$mvscan $files" "$baseline $files"
  pairs "$runs" "-p vs baseline" "$mvscan $p $files" "$baseline $p $files"
  pairs "$runs" "check .zst vs baseline" "$mvscan $zfiles" "$baseline $zfiles"
fi
