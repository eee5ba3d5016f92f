#!/usr/bin/env bash
# Times the JSON reports against their references, in the same run:
#   - the display's JSON Lines (mvscan -P --json) against od printing the
#     same file as one 64-bit hex word per line (target: at most 0.5);
#   - the statistics run with --json against the same run with the text
#     report, on a 1 GiB file (target: at most 1.05), with the peak memory
#     of both.
#
#   bench/bench_json.sh [path/to/mvscan]
#
# Environment:
#   DISPLAY_MIB  size of the display's file in MiB (default 128)
#   SCAN_MIB     size of the statistics file in MiB (default 1024)
#   RUNS         timed runs of each command (default 7); the median and the
#                spread (fastest..slowest) are printed
# The files are made with mvgen (tools/mvgen beside mvscan, or $MVGEN) in a
# fresh folder under /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

mvscan=$(realpath "${1:-build/mvscan}")
mvgen=${MVGEN:-$(dirname "$mvscan")/tools/mvgen}
display_mib=${DISPLAY_MIB:-128}
scan_mib=${SCAN_MIB:-1024}
runs=${RUNS:-7}
[ -x "$mvscan" ] || { echo "no mvscan at $mvscan (build first)"; exit 1; }
[ -x "$mvgen" ] || { echo "no mvgen at $mvgen (build first)"; exit 1; }

work=$(mktemp -d /tmp/mvscan-bench-json-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$mvgen" -k toatot -b $((display_mib << 20)) -o "$work/display.mv" >/dev/null
"$mvgen" -k toatot -b $((scan_mib << 20)) -c 16384 -o "$work/scan.mv" >/dev/null

# Runs a command RUNS times, alternating with the other command of its row
# so that both see the same machine; prints "median min max" of the wall
# time and of the CPU time (user + system), in seconds.
declare -a wall_a wall_b cpu_a cpu_b
time_once() {
  local TIMEFORMAT='%3R %3U %3S' wall user sys
  rm -f "$work/out"
  read -r wall user sys < <({ time bash -c "$1"; } 2>&1 >/dev/null)
  echo "$wall $(echo "$user + $sys" | bc -l)"
}
stats() {
  sort -n | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f", v[int((NR + 1) / 2)], v[1], v[NR] }'
}
row() {
  local label=$1 a=$2 b=$3 w c
  wall_a=() wall_b=() cpu_a=() cpu_b=()
  for ((r = 0; r < runs; r++)); do
    read -r w c <<<"$(time_once "$a")"
    wall_a+=("$w") cpu_a+=("$c")
    read -r w c <<<"$(time_once "$b")"
    wall_b+=("$w") cpu_b+=("$c")
  done
  local wa wb ca cb
  wa=$(printf '%s\n' "${wall_a[@]}" | stats)
  wb=$(printf '%s\n' "${wall_b[@]}" | stats)
  ca=$(printf '%s\n' "${cpu_a[@]}" | stats)
  cb=$(printf '%s\n' "${cpu_b[@]}" | stats)
  printf '%-28s wall %s (%s..%s) vs %s (%s..%s): %.3f\n' "$label" $wa $wb \
    "$(echo "${wa%% *} / ${wb%% *}" | bc -l)"
  printf '%-28s cpu  %s (%s..%s) vs %s (%s..%s): %.3f\n' "" $ca $cb \
    "$(echo "${ca%% *} / ${cb%% *}" | bc -l)"
}

echo "medians (fastest..slowest) of $runs runs, seconds; ratio of the medians"
d=$work/display.mv
row "-P --json / od, file" "$mvscan -P --json $d > $work/out" "od -An -v -tx8 -w8 $d > $work/out"
row "-P --json / od, pipe" "$mvscan -P --json $d | cat > /dev/null" \
  "od -An -v -tx8 -w8 $d | cat > /dev/null"
s=$work/scan.mv
row "-p --json / -p ($scan_mib MiB)" "$mvscan -p --no-image --json $s > $work/out" \
  "$mvscan -p --no-image $s > $work/out"
for mode in "" "--json"; do
  peak=$(/usr/bin/time -f %M "$mvscan" -p --no-image $mode "$s" 2>&1 >/dev/null | tail -1)
  echo "peak memory of -p ${mode:-(text)}: $peak KiB"
done
echo "targets: -P --json / od at most 0.5; -p --json / -p at most 1.05"
