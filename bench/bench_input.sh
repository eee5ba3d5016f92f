#!/usr/bin/env bash
# Times the statistics scan (mvscan -p) of compressed files and of a pipe
# against the tools it is measured by, pair by pair in the same rounds:
#   -p on a zstd file          against  zstd -dc FILE > /dev/null
#   -p on a gzip file          against  gzip -dc FILE > /dev/null
#   -p on zstd through a pipe  against  zstd -dc FILE | cat > /dev/null
#   cat FILE | mvscan -p -     against  mvscan -p FILE
#   mvscan -p FILE             against  BASELINE -p FILE (an older build, if given)
# and prints the peak memory of the scans.
#
#   bench/bench_input.sh [path/to/mvscan] [size-in-MiB]     (default 512)
#
# Environment: RUNS (default 7), MVGEN, BASELINE. The files are made from a
# warm page cache in a fresh folder under /tmp and removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pairs.sh"
bench_programs "$@"
baseline=${BASELINE:+$(realpath "$BASELINE")}

work=$(mktemp -d /tmp/mvscan-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$mvgen" -k toatot -b "$((mib * 1048576))" -o run.mv >/dev/null
# The archives as the tools themselves write them (default levels).
zstd -q -k run.mv
gzip -k run.mv
cat run.mv run.mv.zst run.mv.gz >/dev/null
echo "run.mv $(stat -c %s run.mv) bytes, .zst $(stat -c %s run.mv.zst), .gz $(stat -c %s run.mv.gz)"

p="$mvscan -p --no-image --no-progress"
pairs_header
pairs "$runs" "-p zstd file" "$p run.mv.zst" "zstd -dc run.mv.zst > /dev/null"
pairs "$runs" "-p gzip file" "$p run.mv.gz" "gzip -dc run.mv.gz > /dev/null"
pairs "$runs" "-p zstd pipe" "zstd -dc run.mv.zst | $p -" "zstd -dc run.mv.zst | cat > /dev/null"
pairs "$runs" "cat | -p -" "cat run.mv | $p -" "$p run.mv"
if [[ -n $baseline ]]; then
  pairs "$runs" "-p file vs baseline" "$p run.mv" "$baseline -p --no-image --no-progress run.mv"
fi

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
echo "peak memory (KiB): file $(peak $p run.mv), zstd $(peak $p run.mv.zst)," \
  "gzip $(peak $p run.mv.gz), stdin $(peak sh -c "$p - < run.mv")"
