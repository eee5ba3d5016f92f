#!/usr/bin/env bash
# Times the statistics scan (mvscan -p) and the counter check (mvscan -q)
# against reading the same files with cat, from a warm page cache and from
# the disk, and reports the peak memory of the scan.
#
#   bench/bench_scan.sh [path/to/mvscan]
#
# Environment:
#   SIZE_MIB     size of the warm ToA/ToT file and of the counter file (default 1024)
#   COLD_MIB     size of the ToA/ToT file read from the disk (default 2048)
#   RUNS         timed runs of each command (default 7); medians are reported
#                with the smallest and largest time
#   BASELINE     another mvscan (an older build) timed in the same rounds
#   GENERATOR    mvgen (default) or uniform, for the ToA/ToT files
#   MVGEN        path of mvgen (default: tools/mvgen beside mvscan)
#
# Every round runs each command once, in turn, so that a busy machine slows
# all of them alike. A cold run first writes the file out and drops it from
# the page cache (fsync, then posix_fadvise DONTNEED); only the command is
# timed. The one-thread figures (--threads 1) are those of the
# single-threaded scan.
#
# The files are made in a fresh folder under /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

mvscan=$(realpath "${1:-build/mvscan}")
size_mib=${SIZE_MIB:-1024}
cold_mib=${COLD_MIB:-2048}
runs=${RUNS:-7}
mvgen=${MVGEN:-$(dirname "$mvscan")/tools/mvgen}
baseline=${BASELINE:+$(realpath "$BASELINE")}
[ -x "$mvscan" ] || { echo "no mvscan at $mvscan (build first)"; exit 1; }
[ -x "$mvgen" ] || { echo "no mvgen at $mvgen (build the mvgen target)"; exit 1; }

work=$(mktemp -d /tmp/mvscan-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"  # mvscan writes inspect.png here

# mvgen's ToA/ToT run has a beam spot and hot pixels, as a real run does.
# The uniform generator spreads the hits evenly over all pixels and ToA
# values: the hardest case for the caches the tallies live in.
if [ "${GENERATOR:-mvgen}" = uniform ]; then
  cat >gen.cpp <<'SOURCE'
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
// A file header, then ToA/ToT chunks of pseudo-random pixel packets (all 224
// EoC blocks, both halves, every ToA value) with a heartbeat now and then,
// as long as whole chunks fit in the asked size.
int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const uint64_t total = std::strtoull(argv[2], nullptr, 10);
  const uint64_t chunkWords = std::strtoull(argv[3], nullptr, 10);
  FILE* f = std::fopen(argv[1], "wb");
  if (!f) return 1;
  std::vector<uint64_t> chunk(chunkWords + 1);
  uint64_t state = 0x9E3779B97F4A7C15ULL, written = 8;
  std::fwrite("MORVEN\0\0", 1, 8, f);
  while (written + 8 * (chunkWords + 1) <= total) {
    chunk[0] = (uint64_t(0x0002) << 48) | chunkWords;  // MVHDR_VX7TOATOT
    for (uint64_t i = 1; i <= chunkWords; ++i) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      uint64_t eoc = (state >> 8) % 224;
      if ((state & 0xFFF) == 0) eoc = 0xE0;  // heartbeat
      chunk[i] = (state & 0x807FFFFFFFFFFFFFULL) | (eoc << 55);
    }
    std::fwrite(chunk.data(), 8, chunk.size(), f);  // little-endian host
    written += 8 * chunk.size();
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
SOURCE
  g++ -O2 -o gen gen.cpp
  ./gen warm.mv "$((size_mib * 1048576))" 16384
  ./gen cold.mv "$((cold_mib * 1048576))" 16384
else
  "$mvgen" -k toatot -b "$((size_mib * 1048576))" -o warm.mv >/dev/null
  "$mvgen" -k toatot -s 2 -b "$((cold_mib * 1048576))" -o cold.mv >/dev/null
fi
"$mvgen" -k counter -L 2 -b "$((size_mib * 1048576))" -o counter.mv >/dev/null
# 64 MiB data chunks: every read piece is full.
"$mvgen" -k toatot -s 3 -c 8388608 -b "$((size_mib * 1048576))" -o bigchunks.mv >/dev/null

evict() {
  python3 -c '
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
os.fsync(fd)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
os.close(fd)' "$1"
}
warm() { cat "$1" >/dev/null; }

# Commands by name; "cold" ones drop their file from the cache first.
names=()
declare -A cmd file mode
add() {  # add NAME warm|cold FILE COMMAND...
  local n=$1
  names+=("$n")
  mode[$n]=$2
  file[$n]=$3
  shift 3
  cmd[$n]="$*"
}
add "cat (warm)" warm warm.mv cat warm.mv
add "-p (warm)" warm warm.mv "$mvscan" -p warm.mv
add "-p 1 thread (warm)" warm warm.mv "$mvscan" --threads 1 -p warm.mv
add "cat (cold)" cold cold.mv cat cold.mv
add "-p (cold)" cold cold.mv "$mvscan" -p cold.mv
add "-p (warm, cold file)" warm cold.mv "$mvscan" -p cold.mv
add "cat counter (cold)" cold counter.mv cat counter.mv
add "-q (cold)" cold counter.mv "$mvscan" -q -L 2 counter.mv
add "-q (warm)" warm counter.mv "$mvscan" -q -L 2 counter.mv
if [ -n "$baseline" ]; then
  add "baseline -p (warm)" warm warm.mv "$baseline" -p warm.mv
  add "baseline -p (cold)" cold cold.mv "$baseline" -p cold.mv
  add "baseline -q (cold)" cold counter.mv "$baseline" -q -L 2 counter.mv
  add "baseline -q (warm)" warm counter.mv "$baseline" -q -L 2 counter.mv
fi

declare -A times
for _ in $(seq "$runs"); do
  for n in "${names[@]}"; do
    if [ "${mode[$n]}" = cold ]; then evict "${file[$n]}"; else warm "${file[$n]}"; fi
    t=$( { TIMEFORMAT='%R'; time ${cmd[$n]} >/dev/null; } 2>&1)
    times[$n]="${times[$n]:-} $t"
  done
done

# Median, smallest and largest of a list of times.
stats() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{t[NR] = $1}
  END {printf "%.3f %.3f %.3f\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), t[1], t[NR]}'; }
declare -A med
echo "median of $runs runs, seconds (smallest..largest), shared machine:"
for n in "${names[@]}"; do
  read -r m lo hi < <(stats "${times[$n]}")
  med[$n]=$m
  printf '  %-22s %6.3f  (%.3f..%.3f)\n' "$n" "$m" "$lo" "$hi"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
maxOf() { awk -v a="$1" -v b="$2" 'BEGIN {print (a > b ? a : b)}'; }
echo "ratios of the medians:"
echo "  -p warm / cat warm                          $(ratio "${med[-p (warm)]}" "${med[cat (warm)]}") (target at most 2.6)"
echo "  -p 1 thread / -p                            $(ratio "${med[-p 1 thread (warm)]}" "${med[-p (warm)]}")"
echo "  -p cold / max(cat cold, -p warm)            $(ratio "${med[-p (cold)]}" \
  "$(maxOf "${med[cat (cold)]}" "${med[-p (warm, cold file)]}")") (target at most 1.15)"
echo "  -q cold / max(cat cold, -q warm)            $(ratio "${med[-q (cold)]}" \
  "$(maxOf "${med[cat counter (cold)]}" "${med[-q (warm)]}")") (target at most 1.15)"
if [ -n "$baseline" ]; then
  echo "  baseline -p warm / cat warm                 $(ratio "${med[baseline -p (warm)]}" "${med[cat (warm)]}")"
  echo "  baseline -p cold / max(cat cold, -p warm)   $(ratio "${med[baseline -p (cold)]}" \
    "$(maxOf "${med[cat (cold)]}" "${med[baseline -p (warm)]}")")"
  echo "  baseline -q cold / max(cat cold, -q warm)   $(ratio "${med[baseline -q (cold)]}" \
    "$(maxOf "${med[cat counter (cold)]}" "${med[baseline -q (warm)]}")")"
fi

# The cost per packet on one thread, from its processor time: user time is
# the tally (and the picture), system time the copy out of the page cache.
packets=$("$mvscan" -p warm.mv | sed -n 's/^Total pixelpackets = //p')
cpu=""
for _ in $(seq "$runs"); do
  cpu="$cpu$(/usr/bin/time -f '%U %S' "$mvscan" --threads 1 -p warm.mv 2>&1 >/dev/null | tail -1)
"
done
median() { grep . | sort -n | awk '{t[NR] = $1} END {print t[int((NR + 1) / 2)]}'; }
user=$(awk '{print $1}' <<<"$cpu" | median)
sys=$(awk '{print $2}' <<<"$cpu" | median)
echo "one thread, $packets packets: user $user s ($(awk -v t="$user" -v n="$packets" \
  'BEGIN {printf "%.2f", t * 1e9 / n}') ns per packet), system $sys s ($(awk -v t="$sys" \
  -v n="$packets" 'BEGIN {printf "%.2f", t * 1e9 / n}') ns per packet)"

# Peak memory against 40 MiB + 8 bytes per data chunk, for every kind of run.
peak() {  # peak FILE ARGS...: KiB
  local f=$1
  shift
  local kib
  kib=$(/usr/bin/time -f '%M' "$@" "$f" 2>&1 >/dev/null | tail -1)
  local chunks
  chunks=$("$mvscan" "$f" | awk '/^MVHDR_VX7/ {n += $2} END {print n + 0}')
  printf '  %-30s %6d KiB (limit %d KiB)\n' "$* $f" "$kib" "$((40 * 1024 + chunks * 8 / 1024))"
}
echo "peak memory:"
peak warm.mv "$mvscan" -p
peak bigchunks.mv "$mvscan" -p
peak bigchunks.mv "$mvscan" -p -W -w
peak counter.mv "$mvscan" -q -L 2
peak bigchunks.mv "$mvscan"
