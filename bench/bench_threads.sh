#!/usr/bin/env bash
# Two builds of the same runs, in pairs in the same rounds: for a change to
# how the file is read (the read-ahead hints) or how the Python module's
# arrays are made. Times, page cache cold and warm, on 1 GiB mvgen files:
# the statistics scan -p (on all cores and on one thread), the file check
# of a file of 128 KiB chunks and of one of 128-byte chunks, the counter
# check -q and the raw display -R; then, page cache warm, File.packets() of
# the Python module, when both builds have it.
#
#   BASELINE=path/to/other-build bench/bench_threads.sh [build-folder]
#
# Environment:
#   BASELINE  the other build folder (required): its mvscan and python/
#   RUNS      pairs per row (default 9); rounds of Python calls (default 7,
#             three calls per process)
#   SIZE_MIB  size of each file (default 1024)
#   MVGEN     path of mvgen (default: tools/mvgen in the build folder)
#
# A cold run drops its file from the page cache first (fsync, then
# posix_fadvise DONTNEED on the whole file) within the timed command, in
# both builds alike; the row "eviction alone" tells what that adds. Each
# row prints the median wall and CPU time of each build and the median of
# the pair ratios (build / baseline) with their range: on a shared machine
# read a ratio as a difference only when its range stays on one side of 1.
# The files are made in a fresh folder under /tmp and removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=pairs.sh
source "$here/pairs.sh"
build=$(realpath "${1:-$here/../build}")
[[ -n ${BASELINE:-} ]] || { echo "set BASELINE to the other build folder" >&2; exit 1; }
base=$(realpath "$BASELINE")
bench_programs "$build/mvscan" "${SIZE_MIB:-1024}"
runs=${RUNS:-9}
old=$base/mvscan
[[ -x $old ]] || { echo "mvscan not found: $old" >&2; exit 1; }

work=$(mktemp -d /tmp/bench-threads-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"  # -p writes inspect.png here
bytes=$((mib * 1048576))
"$mvgen" -k toatot -b "$bytes" -o run.mv >/dev/null
"$mvgen" -k toatot -s 4 -c 16 -b "$bytes" -o small.mv >/dev/null
"$mvgen" -k counter -L 2 -b "$bytes" -o counter.mv >/dev/null
cat >evict.py <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
os.fsync(fd)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
os.close(fd)
PY
evict="/usr/bin/python3 $work/evict.py"

# row LABEL cold|warm FILE ARGS...: the two builds' runs of ARGS in pairs.
row() {
  local label=$1 mode=$2 file=$3 pre=""
  shift 3
  if [[ $mode == cold ]]; then pre="$evict $file; "; else cat "$file" >/dev/null; fi
  pairs "$runs" "$label $mode" "$pre$build/mvscan $* $file" "$pre$old $* $file"
}

pairs_header
for mode in cold warm; do
  row "-p" "$mode" run.mv -p
  row "-p --threads 1" "$mode" run.mv --threads 1 -p
  row "check" "$mode" run.mv
  row "check 128 B" "$mode" small.mv
  row "-q" "$mode" counter.mv -q -L 2
  row "-R" "$mode" run.mv -R
done
pairs "$runs" "eviction alone" "$evict run.mv" "true"

# File.packets(), warm: the two modules in turn, three calls per process
# (each into a fresh array); median, smallest and largest call, and the
# median of the per-round ratios of the calls' medians.
packets() {  # packets BUILD: the wall seconds of the calls, one a line
  PYTHONPATH="$1/python" /usr/bin/python3 "$here/bench_threads_packets.py" run.mv 3 |
    awk '{ print $1 }'
}
if ls "$build"/python/morven*.so "$base"/python/morven*.so >/dev/null 2>&1; then
  cat run.mv >/dev/null
  mine=() theirs=() ratios=()
  for ((i = 0; i < ${RUNS:-7}; i++)); do
    a=$(packets "$build") b=$(packets "$base")
    mapfile -t -O "${#mine[@]}" mine <<<"$a"
    mapfile -t -O "${#theirs[@]}" theirs <<<"$b"
    ratios+=("$(echo "$(median_range <<<"$a" | cut -d' ' -f1) / $(median_range <<<"$b" |
      cut -d' ' -f1)" | bc -l)")
  done
  echo "File.packets() warm, seconds per call, median (min-max):"
  echo "  build    $(printf '%s\n' "${mine[@]}" | median_range)"
  echo "  baseline $(printf '%s\n' "${theirs[@]}" | median_range)"
  echo "  ratio    $(printf '%s\n' "${ratios[@]}" | median_range)"
fi
