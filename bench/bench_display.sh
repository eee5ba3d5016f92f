#!/usr/bin/env bash
# Times the packet display (mvscan -R, -P, -R -P) against cat writing the
# very same output bytes: into a file, and into a pipe. The display's
# output is written once beforehand; cat then copies it to where the
# display writes, so the ratio is what decoding and formatting cost on top
# of writing the text.
#
# Usage: bench/bench_display.sh [path/to/mvscan]   (default: build/mvscan)
# The data file is made with mvgen when it is found next to mvscan (or at
# $MVGEN), else with a small Python generator. SIZE_MIB sets the size of
# the packet data (default 32), RUNS the number of pairs of runs per row
# (default 7).
#
# Targets (into a file): -R at most 1.3 x cat, -P at most 1.15 x cat. The
# machine may be shared: read the medians and the range of the ratios.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
MVSCAN=$(realpath "${1:-$here/../build/mvscan}")
SIZE_MIB=${SIZE_MIB:-32}
RUNS=${RUNS:-7}
WORK=$(mktemp -d /tmp/bench_display.XXXXXX)
DATA=$WORK/data.mv
OUT=$WORK/out.txt
trap 'rm -rf "$WORK"' EXIT
# shellcheck source=pairs.sh
source "$here/pairs.sh"

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

echo "data: $PACKETS packets ($CONTENT), file of $(stat -c %s "$DATA") bytes;" \
  "$RUNS pairs of runs per row (seconds; cpu = user + system)"
echo "base: cat of the same output bytes, to the same place"
pairs_header
cat "$DATA" >/dev/null  # warm the page cache
for mode in "-R" "-P" "-R -P"; do
  # shellcheck disable=SC2086
  "$MVSCAN" $mode "$DATA" >"$WORK/ref.txt"
  cat "$WORK/ref.txt" >/dev/null
  pairs "$RUNS" "$mode into a file" "$MVSCAN $mode $DATA > $OUT" "cat $WORK/ref.txt > $OUT"
  pairs "$RUNS" "$mode into a pipe" "$MVSCAN $mode $DATA | cat > /dev/null" \
    "cat $WORK/ref.txt | cat > /dev/null"
  rm -f "$WORK/ref.txt"
done
echo "targets: into a file, -R at most 1.3, -P at most 1.15 (ratio to cat)"
