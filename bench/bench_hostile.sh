#!/usr/bin/env bash
# Peak memory and time of mvscan on files whose chunk headers declare sizes
# no file holds (0xFFFFFFFF words, 32 GiB): a small file, and a sparse 5 GiB
# file that is a hole after its first chunk header. A header must decide
# neither how much memory the tool takes nor what it reads: the file-check
# run seeks over the hole, kept payloads (JSON text, register records) are
# bounded, and the pixel scan reads the hole through its one 16 MiB buffer.
#
#   bench/bench_hostile.sh [path/to/mvscan]
#
# Prints one line per case: peak resident memory (KiB, from the kernel's
# count for the child), wall time and exit status. The files are made in
# /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

mvscan=$(realpath "${1:-build/mvscan}")
[ -x "$mvscan" ] || { echo "no mvscan at $mvscan (build first)"; exit 1; }
work=$(mktemp -d /tmp/mvscan-hostile-XXXXXX)
trap 'rm -rf "$work"' EXIT

# make_file PATH TYPE_FIELD SIZE_WORDS TOTAL: a file header, one chunk-header
# word and a few payload bytes; with TOTAL not 0 the file is then made that
# long, a hole after the bytes written.
make_file() {
  python3 - "$@" <<'EOF'
import struct, sys
path, type_field, words, total = sys.argv[1], int(sys.argv[2], 16), int(sys.argv[3], 16), int(sys.argv[4])
with open(path, "wb") as f:
    f.write(b"MORVEN\0\0" + struct.pack("<Q", type_field << 48 | words))
    f.write(b'{"a":1}' if type_field == 0x1403 else b"\x10\0\0\0\x02\0\0\0\x01\x02\0\0\0\0\0\0")
    if total:
        f.truncate(total)
EOF
}

# measure NAME ARGS...: runs mvscan with its output thrown away.
measure() {
  local name=$1
  shift
  python3 - "$work" "$name" "$mvscan" "$@" <<'EOF'
import resource, subprocess, sys, time
work, name, cmd = sys.argv[1], sys.argv[2], sys.argv[3:]
start = time.monotonic()
# The statistics run writes inspect.png into the working folder.
status = subprocess.run(cmd, stdout=subprocess.DEVNULL, cwd=work).returncode
wall = time.monotonic() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{name:<40} peak {peak:>7} KiB  {wall:7.2f} s  status {status}")
EOF
}

five_gib=$((5 << 30))
for kind in small sparse; do
  total=0
  [ "$kind" = sparse ] && total=$five_gib
  make_file "$work/$kind-data.mv" 0012 ffffffff "$total"
  make_file "$work/$kind-json.mv" 1403 ffffffff "$total"
  make_file "$work/$kind-config.mv" 1001 ffffffff "$total"
  make_file "$work/$kind-user.mv" 7001 ffffffff "$total"
  measure "$kind data chunk, -f -H 1" -f -H 1 "$work/$kind-data.mv"
  measure "$kind JSON chunk, -j" -j "$work/$kind-json.mv"
  measure "$kind config chunk, -c" -c "$work/$kind-config.mv"
  measure "$kind user chunk" "$work/$kind-user.mv"
  measure "$kind data chunk, -p" -p "$work/$kind-data.mv"
  measure "$kind data chunk, -R" -R "$work/$kind-data.mv"
  measure "$kind data chunk, -q" -q "$work/$kind-data.mv"
  measure "$kind JSON chunk, -p" -p "$work/$kind-json.mv"
  rm -f "$work"/$kind-*.mv
done
