#!/usr/bin/env bash
# Times the packet display (mvscan -R and -P) against od printing the same
# file as one 64-bit hex word per line, into a file and into a pipe.
#
# Usage: bench/bench_display.sh [path/to/mvscan]   (default: build/mvscan)
# The data file is made with mvgen when it is found next to mvscan (or at
# $MVGEN), else with a small Python generator. SIZE_MIB sets the size of
# the packet data (default 32), RUNS the number of runs of which the fastest
# counts (default 5).
set -euo pipefail

MVSCAN=${1:-$(dirname "$0")/../build/mvscan}
SIZE_MIB=${SIZE_MIB:-32}
RUNS=${RUNS:-5}
DATA=$(mktemp /tmp/bench_display.XXXXXX)
OUT=$(mktemp /tmp/bench_display_out.XXXXXX)
trap 'rm -f "$DATA" "$OUT"' EXIT

if [[ ! -x $MVSCAN ]]; then
  echo "no mvscan at $MVSCAN" >&2
  exit 1
fi

PACKETS=$((SIZE_MIB * 131072))
MVGEN=${MVGEN:-$(dirname "$MVSCAN")/tools/mvgen}
if [[ -x $MVGEN ]]; then
  # A ToA/ToT run as the detector gives it: hits, some heartbeats, shutter
  # edges and idle words.
  "$MVGEN" -k toatot -n "$PACKETS" -o "$DATA" >/dev/null
  CONTENT="mvgen toatot"
else
  # ToA/ToT chunks of 1 MiB holding data packets with random fields (EoC
  # 0..223, either half).
  python3 - "$DATA" "$SIZE_MIB" <<'PY'
import os, struct, sys
from array import array
path, mib = sys.argv[1], int(sys.argv[2])
chunk_words = 131072
keep = ~(0xFF << 55) & 0xFFFFFFFFFFFFFFFF
with open(path, "wb") as f:
    f.write(b"MORVEN\0\0")
    for c in range(mib):
        words = array("Q", os.urandom(chunk_words * 8))
        for i in range(chunk_words):
            w = words[i]
            words[i] = (w & keep) | (((w >> 55) & 0xFF) % 224) << 55
        f.write(struct.pack("<Q", (0x0002 << 48) | chunk_words))
        f.write(words.tobytes())
PY
  CONTENT="random data packets"
fi

# Runs a shell command RUNS times; prints the fastest wall-clock time and
# the smallest CPU time (user + system, of every process of the command), in
# seconds. The machine may be shared, so CPU time is the steadier figure.
measure() {
  local best_wall="" best_cpu="" wall user sys cpu TIMEFORMAT='%3R %3U %3S'
  for ((r = 0; r < RUNS; r++)); do
    # Each run writes a new file: freeing the last run's output is not its cost.
    rm -f "$OUT"
    read -r wall user sys < <({ time bash -c "$1"; } 2>&1 >/dev/null)
    cpu=$(echo "$user + $sys" | bc -l)
    if [[ -z $best_wall ]] || (($(echo "$wall < $best_wall" | bc -l))); then best_wall=$wall; fi
    if [[ -z $best_cpu ]] || (($(echo "$cpu < $best_cpu" | bc -l))); then best_cpu=$cpu; fi
  done
  printf '%.3f %.3f' "$best_wall" "$best_cpu"
}

ratio() { printf '%.3f' "$(echo "$1 / $2" | bc -l)"; }

row() {
  local label=$1 mv od mw mc ow oc
  read -r mw mc <<<"$(measure "$2")"
  read -r ow oc <<<"$(measure "$3")"
  printf '%-20s %7s %7s %7s   %7s %7s %7s\n' "$label" "$mw" "$ow" "$(ratio "$mw" "$ow")" \
    "$mc" "$oc" "$(ratio "$mc" "$oc")"
}

OD="od -An -v -tx8 -w8 $DATA"
echo "data: $PACKETS packets ($CONTENT), file of $(stat -c %s "$DATA") bytes; best of $RUNS runs"
printf '%-20s %7s %7s %7s   %7s %7s %7s\n' "" "wall:mv" "od" "ratio" "cpu:mv" "od" "ratio"
for mode in R P; do
  row "-$mode into a file" "$MVSCAN -$mode $DATA > $OUT" "$OD > $OUT"
  row "-$mode into a pipe" "$MVSCAN -$mode $DATA | cat > /dev/null" "$OD | cat > /dev/null"
done
echo "targets: -R at most 0.1, -P at most 0.3 (ratio mvscan / od)"
