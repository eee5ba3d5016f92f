#!/usr/bin/env bash
# The bash completion offers every option that the command line reads: the
# short ones of its option string and the long ones that --help lists (made
# from the command line's table).
#   completion_test.sh SOURCE_DIR MVSCAN_BINARY
set -euo pipefail
src=$1
mvscan=$2
# shellcheck source=/dev/null
source "$src/completion/mvscan.bash"
complete_word() {
  COMP_WORDS=(mvscan "$1")
  COMP_CWORD=1
  COMPREPLY=()
  _mvscan
  printf '%s\n' "${COMPREPLY[@]}"
}
offered=$(complete_word -)
options=$(grep -o 'SHORT_OPTIONS\[\] = "[0-9A-Za-z:]*"' "$src/app/CommandLine.cpp" | cut -d'"' -f2 |
  tr -d ':' | grep -o . | sed 's/^/-/')
options+=$'\n'$("$mvscan" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
[ "$(wc -l <<<"$options")" -gt 25 ] || { echo "FAIL: options not found in the source"; exit 1; }
status=0
for o in $options; do
  grep -qx -- "$o" <<<"$offered" || { echo "FAIL: $o not offered"; status=1; }
done
[ "$(complete_word --no-i)" = "--no-image" ] || { echo "FAIL: --no-i"; status=1; }
exit $status
