#!/usr/bin/env bash
# The batch recipe of the README, run: GNU parallel scans each file in a job
# of its own (--json --no-image), mvscan --merge adds the documents up, and
# the merged report and picture are those of one run over all the files,
# byte for byte. jq reads every document and checks its figures against
# the text report of the same run.
#   batch_parallel_test.sh MVSCAN MVGEN
set -euo pipefail
mvscan=$1
mvgen=$2
command -v parallel >/dev/null || { echo "GNU parallel is missing (scripts/setup.sh)"; exit 1; }
command -v jq >/dev/null || { echo "jq is missing (scripts/setup.sh)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$mvgen" -k toatot -n 30000 -s 1 -o run1.mv >/dev/null
"$mvgen" -k pc24 -n 20000 -s 2 -o run2.mv >/dev/null
"$mvgen" -k toatot -n 40000 -s 3 -o run3.mv >/dev/null
"$mvgen" -k toatot -n 10 -s 4 -o run4.mv >/dev/null
files=(run1.mv run2.mv run3.mv run4.mv)

fail() {
  echo "FAIL: $*"
  exit 1
}

# One run over all files: the reference.
mkdir single
(cd single && "$mvscan" -p -E -H 64 "${files[@]/#/../}" >report.txt)

# The recipe: one job per file, then the merge.
mkdir batch
parallel --will-cite -j 2 "$mvscan" -p --json --no-image {} '>' batch/{/.}.json ::: "${files[@]}"
(cd batch && "$mvscan" --merge -E -H 64 ./*.json >merged.txt) || fail "merge status $?"

# The merged block is the single run's last block: the single run's output
# ends with it, and a blank line after the last file.
single_size=$(stat -c %s single/report.txt)
merged_size=$(stat -c %s batch/merged.txt)
tail -c $((merged_size + 1)) single/report.txt | head -c "$merged_size" | cmp - batch/merged.txt ||
  fail "merged report differs"
[ "$(tail -c 1 single/report.txt | od -An -c | tr -d ' ')" = '\n' ] || fail "no blank line"
[ "$single_size" -gt "$merged_size" ] || fail "merged report too long"
cmp single/inspect.png batch/inspect.png || fail "pictures differ"
[ "$(ls batch/*.json | wc -l)" -eq 4 ] || fail "documents missing"

# Every document parses; its figures are those of the text of the same run.
for f in "${files[@]}"; do
  doc=batch/${f%.mv}.json
  jq -e '.format == {"name": "mvscan-report", "version": 1} and .mode == "statistics"' "$doc" \
    >/dev/null || fail "$doc: format"
  text=$("$mvscan" -p -E --no-image "$f")
  total=$(sed -n 's/^Total pixelpackets = //p' <<<"$text")
  [ "$(jq .statistics.packets "$doc")" = "$total" ] || fail "$doc: packets"
  # The non-zero type counts, as "type count" lines.
  sed -n '/^=> EoC counters:/,/^Total/p' <<<"$text" | sed -n 's/^ *\([0-9]\+\)  \([0-9]\+\).*/\1 \2/p' \
    >expected.txt
  jq -r '.statistics.types[] | select(.count > 0) | "\(.type) \(.count)"' "$doc" >got.txt
  cmp expected.txt got.txt || fail "$doc: type counts"
  hits=$(jq '[.statistics.hits[][3]] | add // 0' "$doc")
  data=$(jq '[.statistics.types[] | select(.type < 224) | .count] | add' "$doc")
  [ "$hits" = "$data" ] || fail "$doc: hits $hits, data packets $data"
done

# The merged JSON document has the statistics of one JSON run.
(cd single && "$mvscan" -p --json --no-image "${files[@]/#/../}" | jq -S '.statistics' >single.json)
(cd batch && "$mvscan" --merge --json --no-image ./*.json | jq -S '.statistics' >merged.json)
cmp single/single.json batch/merged.json || fail "merged document differs"
echo "batch recipe: merged report and picture equal one run"
