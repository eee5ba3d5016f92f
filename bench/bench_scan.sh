#!/usr/bin/env bash
# Times the statistics scan (mvscan -p) of a 1 GiB file of ToA/ToT data
# chunks against reading the same file with cat, both from a warm page
# cache, and reports the peak memory of the scan.
#
#   bench/bench_scan.sh [path/to/mvscan]
#
# Environment:
#   SIZE_MIB     file size in MiB (default 1024)
#   CHUNK_WORDS  packets per data chunk (default 16384)
#   RUNS         timed runs of each command, the best counts (default 5)
#   GENERATOR    mvgen (default, when the build has tools/mvgen) or uniform
#   MVGEN        path of mvgen (default: tools/mvgen beside mvscan)
# The file is made in a fresh folder under /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

mvscan=$(realpath "${1:-build/mvscan}")
size_mib=${SIZE_MIB:-1024}
chunk_words=${CHUNK_WORDS:-16384}
runs=${RUNS:-5}
mvgen=${MVGEN:-$(dirname "$mvscan")/tools/mvgen}
[ -x "$mvscan" ] || { echo "no mvscan at $mvscan (build first)"; exit 1; }

work=$(mktemp -d /tmp/mvscan-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
data=$work/scan.mv
bytes_wanted=$((size_mib * 1024 * 1024))

# mvgen's ToA/ToT run has a beam spot and hot pixels, as a real run does.
# The uniform generator spreads the hits evenly over all pixels and ToA
# values: the hardest case for the caches the tallies live in.
if [ "${GENERATOR:-mvgen}" = mvgen ] && [ -x "$mvgen" ]; then
  generator="mvgen -k toatot"
  "$mvgen" -k toatot -b "$bytes_wanted" -c "$chunk_words" -o "$data" >/dev/null
else
  generator="uniform pseudo-random hits"
  cat >"$work/gen.cpp" <<'SOURCE'
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
  g++ -O2 -o "$work/gen" "$work/gen.cpp"
  "$work/gen" "$data" "$bytes_wanted" "$chunk_words"
fi
bytes=$(stat -c %s "$data")

cd "$work"  # mvscan writes inspect.png here
report=$("$mvscan" -p "$data")
packets=$(sed -n 's/^Total pixelpackets = //p' <<<"$report")
chunks=$(awk '/^MVHDR_VX7/ {n += $2} END {print n + 0}' <<<"$report")

# Best of $runs runs: "wall cpu" in seconds, cpu being user + system time.
# On a shared machine the processor time is the steadier figure.
best_time() {
  local best_wall="" best_cpu="" t wall cpu
  for _ in $(seq "$runs"); do
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null; } 2>&1)
    read -r wall cpu < <(awk '{printf "%s %.3f\n", $1, $2 + $3}' <<<"$t")
    if [ -z "$best_wall" ] || [ "$(echo "$wall < $best_wall" | bc -l)" = 1 ]; then best_wall=$wall; fi
    if [ -z "$best_cpu" ] || [ "$(echo "$cpu < $best_cpu" | bc -l)" = 1 ]; then best_cpu=$cpu; fi
  done
  echo "$best_wall $best_cpu"
}

cat "$data" >/dev/null
cat "$data" >/dev/null  # warm the page cache
read -r cat_wall cat_cpu < <(best_time cat "$data")
read -r scan_wall scan_cpu < <(best_time "$mvscan" -p "$data")

if [ -x /usr/bin/time ]; then
  peak_kib=$(/usr/bin/time -v "$mvscan" -p "$data" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
else
  peak_kib=$(python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$mvscan" -p "$data")
fi
limit_kib=$((40 * 1024 + chunks * 8 / 1024))

ratio() { echo "$1 / $2" | bc -l; }
printf 'file       : %d bytes by %s, %d data chunks, %d packets\n' \
  "$bytes" "$generator" "$chunks" "$packets"
printf 'cat        : %.3f s wall, %.3f s cpu (%.0f MiB/s)\n' "$cat_wall" "$cat_cpu" \
  "$(echo "$bytes / 1048576 / $cat_wall" | bc -l)"
printf 'mvscan -p  : %.3f s wall, %.3f s cpu (%.0f MiB/s)\n' "$scan_wall" "$scan_cpu" \
  "$(echo "$bytes / 1048576 / $scan_wall" | bc -l)"
printf 'ratio      : %.2f x cat in wall time (target at most 6)\n' "$(ratio "$scan_wall" "$cat_wall")"
printf 'packets/s  : %.3g\n' "$(ratio "$packets" "$scan_wall")"
printf 'peak memory: %d KiB (limit %d KiB: 40 MiB + 8 bytes per data chunk)\n' \
  "$peak_kib" "$limit_kib"
