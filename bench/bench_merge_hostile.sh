#!/usr/bin/env bash
# Peak memory and time of mvscan --merge on hostile statistics documents
# within the 64 MiB a document may have: a real document of a small run,
# edited to hold lists far longer than any run writes (4 million ToA
# values, 8 million pixels, rows and lists where the format has none), and
# the lists that have no bound of their own (the file list, the hits per
# data chunk) grown to tens of megabytes. Each is refused or merged; what
# it costs should stay a small multiple of its size.
#
#   bench/bench_merge_hostile.sh [path/to/mvscan] [path/to/mvgen]
#
# BASELINE=path/to/older/mvscan runs every case with it too, for a
# before/after figure. Prints one line per case and program: the document's
# size, peak resident memory (KiB, the kernel's count for the child, as
# /usr/bin/time -v reports it), wall time, exit status and the first line of
# the report. The documents are made in /tmp and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

mvscan=$(realpath "${1:-build/mvscan}")
mvgen=$(realpath "${2:-$(dirname "$mvscan")/tools/mvgen}")
[ -x "$mvscan" ] || { echo "no mvscan at $mvscan (build first)"; exit 1; }
work=$(mktemp -d /tmp/mvscan-merge-hostile-XXXXXX)
trap 'rm -rf "$work"' EXIT

"$mvgen" -n 20000 -s 5 -o "$work/run.mv" >/dev/null
"$mvscan" -p --json --no-image "$work/run.mv" >"$work/run.json"

python3 - "$work" <<'EOF'
import json, sys
work = sys.argv[1]
doc = json.load(open(f"{work}/run.json"))

def write(name, edit):
    d = json.loads(json.dumps(doc))
    edit(d)
    with open(f"{work}/{name}.json", "w") as f:
        json.dump(d, f, separators=(",", ":"))

st = lambda d: d["statistics"]
write("toa_4m", lambda d: st(d)["toa"].__setitem__("counts", [[0, 1]] * 4_000_000))
write("hits_8m", lambda d: st(d).__setitem__("hits", [[0, 0, 0, 1]] * 4_000_000))
write("row_long", lambda d: st(d)["hits"].__setitem__(0, [0] * 30_000_000))
write("unknown_lists", lambda d: st(d).__setitem__("later", [[]] * 20_000_000))
write("chunk_hits_30m", lambda d: st(d).__setitem__("chunk_hits", [[0] * 30_000_000]))
file = dict(doc["files"][0], name="f", size=0, packets=0, skipped=0)
write("files_800k", lambda d: d.__setitem__("files", [file] * 800_000))
errors = [{"offset": 0, "message": ""}] * 16
write("files_errors", lambda d: d.__setitem__("files", [dict(file, errors=errors)] * 120_000))
EOF

# measure PROGRAM NAME: one merge of the document, its output counted.
measure() {
  python3 - "$work" "$2" "$1" <<'EOF'
import os, resource, subprocess, sys, time
work, name, mvscan = sys.argv[1:]
doc = f"{work}/{name}.json"
start = time.monotonic()
r = subprocess.run([mvscan, "--merge", "--no-image", doc], capture_output=True, text=True)
wall = time.monotonic() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
size = os.path.getsize(doc) >> 10
first = r.stdout.splitlines()[0] if r.stdout else ""
first = first.replace(doc, name)
print(f"{name:<16} {size:>7} KiB  peak {peak:>8} KiB  {wall:6.2f} s  status {r.returncode}  {first[:90]}")
EOF
}

for name in toa_4m hits_8m row_long unknown_lists chunk_hits_30m files_800k files_errors; do
  measure "$mvscan" "$name"
  [ -z "${BASELINE:-}" ] || { printf '  before: '; measure "$(realpath "$BASELINE")" "$name"; }
done
