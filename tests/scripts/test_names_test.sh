#!/usr/bin/env bash
# Every test in CTest's list of this build has a short, readable name: at
# most 100 characters, no printed parameter ("# GetParam() = ..."), nothing
# but letters, digits and "/._-", and no two alike.
#   test_names_test.sh BUILD_DIR
set -euo pipefail
names=$(ctest --test-dir "$1" -N | sed -n 's/^ *Test *#[0-9]*: //p')
count=$(wc -l <<<"$names")
[ "$count" -gt 100 ] || { echo "FAIL: only $count tests listed"; exit 1; }
status=0
while IFS= read -r name; do
  [ ${#name} -le 100 ] || { echo "FAIL: ${#name} characters: ${name:0:140}"; status=1; }
  [[ $name =~ ^[A-Za-z0-9/._-]+$ ]] || { echo "FAIL: not a plain name: ${name:0:140}"; status=1; }
done <<<"$names"
dupes=$(sort <<<"$names" | uniq -d)
[ -z "$dupes" ] || { echo "FAIL: names listed twice: $dupes"; status=1; }
longest=$(awk '{ print length($0) }' <<<"$names" | sort -n | tail -1)
[ $status -eq 0 ] && echo "test names: $count, the longest $longest characters"
exit $status
