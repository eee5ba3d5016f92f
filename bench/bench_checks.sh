#!/usr/bin/env bash
# Speed of the two checks (-q counter check, -Q test-generator check) on
# clean 1 GiB captures, each set against `cat FILE >/dev/null` on the same
# file in the same run (page cache warm).
#
# Usage: bench/bench_checks.sh [path/to/mvscan] [size-in-MiB]
#   mvscan defaults to build/mvscan, the size to 1024 MiB.
#   RUNS (environment, default 5): runs per command; the fastest counts.
#   KEEP=1 keeps the generated files in the work directory.
#
# The two captures are written by a small generator compiled here: a
# counter stream of one link (0, 1, 2, ...) and a test-generator stream of
# one link (pixel number, EoC and ToA counting up, fixed pattern
# 0x2AEBA954), both in data chunks of 4 Mi words.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
mvscan=${1:-$here/../build/mvscan}
mib=${2:-1024}
runs=${RUNS:-5}
[[ -x $mvscan ]] || { echo "mvscan not found: $mvscan" >&2; exit 1; }

work=$(mktemp -d /tmp/bench-checks-XXXXXX)
cleanup() { [[ ${KEEP:-0} == 1 ]] || rm -rf "$work"; }
trap cleanup EXIT

cat >"$work/gen.cpp" <<'EOF'
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// gen counter|testgen FILE WORDS
int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const bool testGen = std::strcmp(argv[1], "testgen") == 0;
  const uint64_t total = std::strtoull(argv[3], nullptr, 10);
  FILE* f = std::fopen(argv[2], "wb");
  if (!f) return 1;
  const uint64_t chunkWords = 4u << 20;
  std::vector<uint64_t> buf(chunkWords + 1);
  std::fwrite("MORVEN\0\0", 1, 8, f);
  uint64_t counter = 0, eoc = 0, pix = 0, toa = 0;
  for (uint64_t done = 0; done < total;) {
    uint64_t n = total - done < chunkWords ? total - done : chunkWords;
    buf[0] = (0x0002ull << 48) | n;  // ToA/ToT data chunk of n words
    for (uint64_t i = 1; i <= n; ++i) {
      if (!testGen) {
        buf[i] = counter++;
        continue;
      }
      buf[i] = eoc << 55 | pix << 46 | toa << 30 | 0x2AEBA954;
      toa = (toa + 1) & 0xFFFF;
      pix = (pix + 1) & 0x1FF;
      if (pix == 0) eoc = (eoc + 1) % 224;
    }
    // Little-endian host assumed, as the file format is little-endian.
    if (std::fwrite(buf.data(), 8, n + 1, f) != n + 1) return 1;
    done += n;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
EOF
c++ -O2 -o "$work/gen" "$work/gen.cpp"

words=$((mib * 1024 * 1024 / 8))
"$work/gen" counter "$work/counter.mv" "$words"
"$work/gen" testgen "$work/testgen.mv" "$words"

# The fastest of $runs runs: "wall cpu" in seconds (cpu = user + system).
# On a shared machine the CPU time is the steadier of the two figures.
best() {
  local bestWall="" bestCpu="" t wall user sys
  for ((i = 0; i < runs; ++i)); do
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null; } 2>&1)
    read -r wall user sys <<<"$t"
    local cpu
    cpu=$(echo "$user + $sys" | bc -l)
    if [[ -z $bestWall ]] || (($(echo "$wall < $bestWall" | bc -l))); then bestWall=$wall; fi
    if [[ -z $bestCpu ]] || (($(echo "$cpu < $bestCpu" | bc -l))); then bestCpu=$cpu; fi
  done
  echo "$bestWall $bestCpu"
}

# A clean stream gives no check line at all.
for mode in q Q; do
  file=$work/counter.mv
  [[ $mode == Q ]] && file=$work/testgen.mv
  if "$mvscan" -$mode "$file" | grep -q '^###'; then
    echo "unexpected check lines for -$mode on the clean stream:" >&2
    "$mvscan" -$mode "$file" | head >&2
    exit 1
  fi
done

echo "$mib MiB, fastest of $runs runs each (seconds; cpu = user + system)"
printf '%-5s %-11s %9s %9s %9s %9s %10s %9s\n' mode file "cat wall" "cat cpu" "wall" "cpu" \
  "wall/cat" "cpu/cat"
for mode in q Q; do
  file=$work/counter.mv
  [[ $mode == Q ]] && file=$work/testgen.mv
  cat "$file" >/dev/null  # warm the page cache
  read -r cw cc <<<"$(best cat "$file")"
  read -r mw mc <<<"$(best "$mvscan" -$mode "$file")"
  printf '%-5s %-11s %9.3f %9.3f %9.3f %9.3f %10.2f %9.2f\n' "-$mode" "$(basename "$file")" \
    "$cw" "$cc" "$mw" "$mc" "$(echo "$mw / $cw" | bc -l)" "$(echo "$mc / $cc" | bc -l)"
done
