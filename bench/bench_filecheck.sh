#!/usr/bin/env bash
# File-check run on a file of 1,000,000 data chunks of 8 words each, page
# cache warm, timed side by side with `cat FILE >/dev/null` in the same run.
# Also reports the peak memory of the run.
#   bench/bench_filecheck.sh [path-to-mvscan]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
mvscan="${1:-$here/build/mvscan}"
file="$(mktemp /tmp/mvscan-bench-XXXXXX.mv)"
trap 'rm -f "$file"' EXIT

python3 - "$file" <<'PY'
import struct, sys
chunk = struct.pack('<Q', (0x0002 << 48) | 8) + bytes(range(64))
with open(sys.argv[1], 'wb') as f:
    f.write(b'MORVEN\0\0')
    f.write(chunk * 1000000)
PY

python3 - "$mvscan" "$file" <<'PY'
import resource, subprocess, sys, time
mvscan, path = sys.argv[1], sys.argv[2]
def best(cmd, runs=5):
    t = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
        t.append(time.perf_counter() - start)
    return min(t)
subprocess.run(['cat', path], stdout=subprocess.DEVNULL)  # warm the page cache
cat = best(['cat', path])
scan = best([mvscan, path])
scanH = best([mvscan, '-H', '16', path])
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
print(f"file: 1000000 data chunks of 8 words")
print(f"cat            {cat*1000:8.1f} ms")
print(f"mvscan         {scan*1000:8.1f} ms   {scan/cat:5.1f} x cat")
print(f"mvscan -H 16   {scanH*1000:8.1f} ms   {scanH/cat:5.1f} x cat")
print(f"peak memory of the children: {peak:.1f} MiB")
PY
