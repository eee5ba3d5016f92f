#!/usr/bin/env bash
# Merges what a campaign found into a target's kept corpus, minimised: the
# new corpus is the smallest set of inputs, from the kept corpus and the
# folders given, that reaches every coverage feature the seeds do not
# already reach (libFuzzer's -merge=1; files named by the SHA-1 of their
# bytes). The seeds stay out of it: seed_writer writes them again.
#
#   fuzz/keep-corpus.sh chunks|packets|merge FOLDER...
#
# Needs the targets built by fuzz/build.sh in build-fuzz (or $BUILD_FUZZ).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${BUILD_FUZZ:-$root/build-fuzz}"
target=$1
shift
. "$root/fuzz/limits.sh"
fuzz_limits "$target" || { echo "usage: $0 chunks|packets|merge FOLDER..." >&2 && exit 2; }
kept="$root/fuzz/corpus/$target"
mkdir -p "$kept"

rm -rf "$out/seeds"
"$out/seed_writer" "$out/seeds"
work=$(mktemp -d "$out/keep-$target.XXXXXX")
cp "$out/seeds/$target"/* "$work/"
"$out/fuzz_$target" -merge=1 "${limits[@]}" "$work" "$kept" "$@" >"$work.log" 2>&1 || {
  tail -n 30 "$work.log"
  exit 1
}
for seed in "$out/seeds/$target"/*; do rm -f "$work/$(basename "$seed")"; done
rm -rf "$kept"
mv "$work" "$kept"
chmod 755 "$kept"
echo "fuzz/corpus/$target: $(ls "$kept" | wc -l) inputs, $(du -sb "$kept" | cut -f1) bytes"
