#!/usr/bin/env bash
# Times the Python module morven on a 1 GiB mvgen ToA/ToT file, warm page
# cache, all in one run (bench/bench_python.py does the timing):
# morven.statistics against mvscan -p, File.packets() plus morven.decode()
# (fresh arrays, and arrays made once with out=) against the plain numpy
# decode an analyst writes (bench/bench_python_numpy.py),
# and the peak memory of iter_packets and statistics.
#
#   bench/bench_python.sh [build-folder]
#
# Environment:
#   SIZE_MIB  file size in MiB (default 1024)
#   RUNS      timed runs of each, the median counts (default 5)
# The file is made in a fresh folder under /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-5}
[ -e "$build/python" ] && ls "$build"/python/morven*.so >/dev/null 2>&1 ||
  { echo "no Python module in $build/python (build first)"; exit 1; }

work=$(mktemp -d /tmp/mvscan-bench-python-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/tools/mvgen" -k toatot -b "$((size_mib * 1024 * 1024))" -o "$work/run.mv" >/dev/null

# The Debian packages serve the system's interpreter, not a python3 that may
# come first on PATH.
PYTHONPATH="$build/python" /usr/bin/python3 bench/bench_python.py "$work/run.mv" \
  "$build/mvscan" "$runs"
