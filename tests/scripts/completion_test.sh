#!/usr/bin/env bash
# The bash completions of mvscan and mvgen: every option that the command
# lines read (mvscan's short ones from its option string, its long ones from
# --help, made from its table; mvgen's from its option string), the values
# that have a fixed choice, and file names by what the run reads.
#   completion_test.sh SOURCE_DIR MVSCAN_BINARY MVGEN_BINARY
set -euo pipefail
src=$1
mvscan=$2
mvgen=$3
# shellcheck source=/dev/null
source "$src/completion/mvscan.bash"
# shellcheck source=/dev/null
source "$src/completion/mvgen.bash"
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# What the completion function $1 offers for the command line $2..., whose
# last word is the one being completed; sorted, one a line.
complete_line() {
  local function=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  "$function"
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
  local want=$1 got
  shift
  got=$(complete_line "$@")
  [ "$got" = "$(printf '%b' "$want")" ] || fail "$* gives [${got//$'\n'/ }], not [${want//\\n/ }]"
}
short_options() {
  grep -o "$2" "$1" | cut -d'"' -f2 | tr -d ':' | grep -o . | sed 's/^/-/'
}

# Every option of mvscan.
offered=$(complete_line _mvscan mvscan -)
options=$(short_options "$src/app/CommandLine.cpp" 'SHORT_OPTIONS\[\] = "[0-9A-Za-z:]*"')
options+=$'\n'$("$mvscan" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
[ "$(wc -l <<<"$options")" -gt 25 ] || fail "mvscan's options not found"
for o in $options; do
  grep -qx -- "$o" <<<"$offered" || fail "mvscan $o not offered"
done
expect '--no-image' _mvscan mvscan --no-i

# Every option of mvgen, and its kinds of content as its own message names
# them.
offered=$(complete_line _mvgen mvgen -)
options=$(short_options "$src/tools/mvgen.cpp" 'getopt(argc, argv, "[0-9A-Za-z:]*"')
[ "$(wc -l <<<"$options")" -gt 10 ] || fail "mvgen's options not found"
for o in $options; do
  grep -qx -- "$o" <<<"$offered" || fail "mvgen $o not offered"
done
kinds=$({ "$mvgen" -k none -o /dev/null 2>&1 || true; } | sed -n 's/.*(\(.*\)).*/\1/p' | sed 's/,* or /, /' |
  tr -d ',' | tr ' ' '\n' | sort)
[ "$(wc -l <<<"$kinds")" -ge 6 ] || fail "mvgen's kinds not found"
expect "$kinds" _mvgen mvgen -k ''
expect 'testgen' _mvgen mvgen -n 5 -k te
expect '1\n2\n3\n4\n5\n6\n7\n8' _mvgen mvgen -L ''

# File names and values, in a folder of every kind of name.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mkdir night
touch a.mv b.mv.zst c.mv.gz a.json notes.txt a.mvx night/n.mv night/n.json
expect 'a.mv\nb.mv.zst\nc.mv.gz\nnight' _mvscan mvscan ''
expect 'a.mv\nb.mv.zst\nc.mv.gz\nnight' _mvscan mvscan -p -L 2 a.mv ''
expect 'a.mv' _mvscan mvscan -p a
expect 'night/n.mv' _mvscan mvscan -f night/
expect 'a.json\nnight' _mvscan mvscan --merge ''
expect 'a.json\nnight' _mvscan mvscan -E --merge -H 64 b.json ''
expect 'night/n.json' _mvscan mvscan --merge night/n
expect '16\n8' _mvscan mvscan -F ''
expect '1\n2\n3\n4\n5\n6\n7\n8' _mvscan mvscan -L ''
expect '' _mvscan mvscan --threads ''
expect 'notes.txt' _mvscan mvscan -p --image no
expect 'notes.txt' _mvscan mvscan -p --image=no
expect 'a.json\na.mv\na.mvx' _mvgen mvgen -k toatot -o a
[ $status -eq 0 ] && echo "completion: all offered"
exit $status
