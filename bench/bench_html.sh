#!/usr/bin/env bash
# Cost of the quick-look page: the statistics run with --html (and with
# --json, which carries the same hit tallies) against the plain run -p on a
# 1 GiB mvgen ToA/ToT file, page cache warm, in pairs in the same run; and,
# with BASELINE set to an older mvscan, the plain run -p against that
# build's (the hit tallies must cost a plain -p nothing). Prints the size
# of the page.
#
# Usage: bench/bench_html.sh [path/to/mvscan] [size-in-MiB]
#   mvscan defaults to build/mvscan, the size to 1024 MiB.
#   RUNS (environment, default 7): pairs of runs per row.
#   BASELINE: an older mvscan, for the row "-p / baseline -p".
#   MVGEN: path of mvgen (default: tools/mvgen beside mvscan).
#
# Targets: -p --html at most 0.2 s more than -p (wall); -p within 5 % of
# the baseline's. A shared machine spreads the figures: read the medians
# with the range of the ratios.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=pairs.sh
source "$here/pairs.sh"
bench_programs "$@"
baseline=${BASELINE:+$(realpath "$BASELINE")}

work=$(mktemp -d /tmp/bench-html-XXXXXX)
trap 'rm -rf "$work"' EXIT
f=$work/run.mv
"$mvgen" -k toatot -b "${mib}M" -o "$f" >/dev/null
OUT=$work/page.html

pairs_header
plain="$mvscan -p --no-progress --no-image $f"
pairs "$runs" "-p --html / -p" "$plain --html $OUT" "$plain"
pairs "$runs" "-p --json / -p" "$plain --json > $work/doc.json" "$plain"
if [[ -n $baseline ]]; then
  pairs "$runs" "-p / baseline -p" "$plain" "$baseline -p --no-progress --no-image $f"
fi
"$mvscan" -p --no-progress --no-image --html "$OUT" "$f" >/dev/null
echo "page of the run: $(stat -c %s "$OUT") bytes"
