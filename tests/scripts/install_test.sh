#!/usr/bin/env bash
# cmake --install puts the documents that the man page of mvscan points at
# where the installed page says they are, for the prefix of the
# installation, and they are the documents of the sources.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
page=$prefix/share/man/man1/mvscan.1
[ -f "$page" ] || { echo "FAIL: no man page at $page"; exit 1; }
status=0
# The documents the page names by path, "\-" read as "-".
paths=$(sed 's/\\-/-/g' "$page" | grep -o '/[^ ]*\.md' | sort -u)
for doc in json-report.md README.md; do
  grep -qx -- "$prefix/share/doc/mvscan/$doc" <<<"$paths" ||
    { echo "FAIL: the man page does not name $prefix/share/doc/mvscan/$doc"; status=1; }
done
for p in $paths; do
  [ -f "$p" ] || { echo "FAIL: the man page names $p, which is not installed"; status=1; continue; }
  case $p in
    */json-report.md) cmp -s "$p" "$src/docs/json-report.md" || { echo "FAIL: $p differs"; status=1; } ;;
    */README.md) cmp -s "$p" "$src/README.md" || { echo "FAIL: $p differs"; status=1; } ;;
  esac
done
# The source page names the default prefix's place, and nothing else of it
# differs from the installed page.
diff <(sed "s|$prefix/share/doc/mvscan|/usr/local/share/doc/mvscan|g" "$page") "$src/docs/mvscan.1" >/dev/null ||
  { echo "FAIL: the installed man page differs from docs/mvscan.1 beyond the path"; status=1; }
[ $status -eq 0 ] && echo "install: documents where the man page says"
exit $status
