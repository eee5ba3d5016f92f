#!/usr/bin/env bash
# Whether a follow keeps up with a fast writer: a writer appends an mvgen
# file at RATE_MIBS MiB/s (default 1024) in 8 MiB pieces while
# `mvscan -p --follow --idle 0.5` reads it; prints the writer's time, the
# time the follower ended after the writer (the idle time taken off: the
# lag behind the writer) and the follower's CPU time. Then an idle follow:
# the CPU time it takes while the file does not grow for 10 s.
#
#   bench/bench_follow.sh [path/to/mvscan] [size-in-MiB]     (default 2048)
#
# Environment: RUNS (default 5), MVGEN, RATE_MIBS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pairs.sh"
bench_programs "$@"
rate=${RATE_MIBS:-1024}
work=$(mktemp -d /tmp/mvscan-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$mvgen" -k toatot -b "$((mib * 1048576))" -o whole.mv >/dev/null
cat whole.mv >/dev/null

writer() {
  python3 - "$rate" <<'PY'
import sys, time
rate = float(sys.argv[1]) * 1048576
piece = 8 << 20
start = time.monotonic()
done = 0
with open("whole.mv", "rb") as src, open("grow.mv", "ab", buffering=0) as dst:
    while True:
        data = src.read(piece)
        if not data:
            break
        dst.write(data)
        done += len(data)
        wait = start + done / rate - time.monotonic()
        if wait > 0:
            time.sleep(wait)
print(f"{time.monotonic() - start:.3f}")
PY
}

printf '%-6s %10s %12s %10s\n' run "writer s" "lag s" "cpu s"
for ((i = 1; i <= runs; i++)); do
  rm -f grow.mv && : >grow.mv
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S" -o cpu.txt "$mvscan" -p --no-image --no-progress --follow --idle 0.5 \
    grow.mv >report.txt &
  follower=$!
  wrote=$(writer)
  wrote_at=$(date +%s.%N)
  wait "$follower"
  ended=$(date +%s.%N)
  read -r user sys <cpu.txt
  lag=$(echo "$ended - $wrote_at - 0.5" | bc -l)
  printf '%-6s %10s %12.3f %10.2f\n' "$i" "$wrote" "$lag" "$(echo "$user + $sys" | bc -l)"
done
"$mvscan" -p --no-image --no-progress grow.mv | cmp -s - report.txt && echo "reports equal a plain run"

: >idle.mv
"$mvgen" -n 1000 -o idle.mv >/dev/null
/usr/bin/time -f "%U %S" -o idle-cpu.txt "$mvscan" -p --no-image --no-progress --follow \
  --idle 10 idle.mv >/dev/null
read -r user sys <idle-cpu.txt
echo "idle follow, 10 s: $(echo "$user + $sys" | bc -l) s CPU"
