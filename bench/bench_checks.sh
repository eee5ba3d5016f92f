#!/usr/bin/env bash
# Speed of the two checks on 1 GiB captures written by mvgen: the counter
# check (-q) of a counter stream and the test-generator check (-Q -L 4) of
# a test-generator stream of 4 links (with its heartbeats and idle words),
# each set against `cat FILE > /dev/null` on the same file, in pairs in
# the same run, with the page cache warm.
#
# Usage: bench/bench_checks.sh [path/to/mvscan] [size-in-MiB]
#   mvscan defaults to build/mvscan, the size to 1024 MiB.
#   RUNS (environment, default 7): pairs of runs per row.
#   MVGEN: path of mvgen (default: tools/mvgen beside mvscan).
#   KEEP=1 keeps the generated files in the work directory.
#
# Targets: -q at most 2.0 x cat, -Q at most 2.6 x cat. The machine may be
# shared: read the medians and the range of the ratios, CPU time being the
# steadier figure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=pairs.sh
source "$here/pairs.sh"
bench_programs "$@"

work=$(mktemp -d /tmp/bench-checks-XXXXXX)
cleanup() { [[ ${KEEP:-0} == 1 ]] || rm -rf "$work"; }
trap cleanup EXIT

"$mvgen" -k counter -b "${mib}M" -o "$work/counter.mv" >/dev/null
"$mvgen" -k testgen -L 4 -b "${mib}M" -o "$work/testgen.mv" >/dev/null

# A clean stream gives no check line at all.
for args in "-q $work/counter.mv" "-Q -L 4 $work/testgen.mv"; do
  # shellcheck disable=SC2086
  if "$mvscan" $args | grep -q '^###'; then
    echo "unexpected check lines for mvscan $args on a clean stream" >&2
    exit 1
  fi
done

echo "$mib MiB each, $runs pairs of runs per row (seconds; cpu = user + system);" \
  "base: cat FILE > /dev/null"
pairs_header
cat "$work/counter.mv" "$work/testgen.mv" >/dev/null  # warm the page cache
pairs "$runs" "-q counter" "$mvscan -q $work/counter.mv" "cat $work/counter.mv"
pairs "$runs" "-Q -L 4 testgen (4 links)" "$mvscan -Q -L 4 $work/testgen.mv" "cat $work/testgen.mv"
echo "targets: -q at most 2.0, -Q at most 2.6 (ratio to cat)"
