#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz_chunks, fuzz_packets, fuzz_merge) with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer, from the same
# inspector sources that mvscan links (without the PNG image, which the
# targets never write), and the seed writer that makes their starting
# corpus.
#
#   fuzz/build.sh [build-dir]     (default: build-fuzz)
#
# Then, for example:
#   build-fuzz/seed_writer build-fuzz/corpus
#   build-fuzz/fuzz_chunks -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
#       -malloc_limit_mb=64 build-fuzz/corpus/chunks
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/fuzz/setup.sh"
out="${1:-$root/build-fuzz}"
mkdir -p "$out/obj"
# Two compilers at a time: the machine is shared.
max_jobs=2
. "$root/scripts/background-jobs.sh"

cxx="${CXX:-clang++}"
flags=(-std=c++20 -g -O2 -Wall -Wextra -fno-omit-frame-pointer -fno-sanitize-recover=all
  -DMVSCAN_WITH_COMPRESSION -DMVSCAN_MAX_WINDOW_LOG=24 -I"$root/inspector" -I"$root/tests" -I"$root/fuzz")
# The decompressors of compressed input.
libs=(-lzstd -lz)
# Functions built without coverage feedback: see the list itself.
ignore=-fsanitize-coverage-ignorelist="$root/fuzz/coverage_ignorelist.txt"

objects=()
for src in "$root"/inspector/*/*.cpp; do
  case "$(basename "$src")" in CounterImage.cpp) continue ;; esac
  obj="$out/obj/$(basename "$src" .cpp).o"
  if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find "$root/inspector" "$root/fuzz/coverage_ignorelist.txt" -name '*.h' -newer "$obj" -o -name '*.txt' -newer "$obj")" ]; then
    rm -f "$obj"
    start_job "$cxx" "${flags[@]}" "$ignore" -fsanitize=fuzzer-no-link,address,undefined -c "$src" -o "$obj"
  fi
  objects+=("$obj")
done
finish_jobs

for target in fuzz_chunks fuzz_packets fuzz_merge; do
  "$cxx" "${flags[@]}" "$ignore" -fsanitize=fuzzer,address,undefined "$root/fuzz/$target.cpp" \
    "${objects[@]}" "${libs[@]}" -o "$out/$target"
done
# The seed writer runs the library to write the merge's documents: it links
# the same objects, so it runs under the sanitizers too.
"$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link,address,undefined "$root/fuzz/seed_writer.cpp" \
  "${objects[@]}" "${libs[@]}" -o "$out/seed_writer"
echo "fuzz targets in $out"
