"""Times the Python module morven on one file, all in the same run, warm page
cache: morven.statistics against mvscan -p, and File.packets() plus
morven.decode(), with fresh arrays and with arrays made once (out=), against
the plain numpy decode of bench_python_numpy.py; and
the peak memory of iter_packets and statistics beyond the arrays they hand
out. Run by bench/bench_python.sh, which makes the file.

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py FILE MVSCAN [RUNS]
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import morven

sys.path.insert(0, str(Path(__file__).parent))
import bench_python_numpy  # noqa: E402


def timed(runs, call):
    """Median, fastest and slowest wall time of the runs, and the median
    processor time of this process (all its threads) and its children, in
    seconds. On a shared machine the processor time is the steadier figure."""
    walls, cpus = [], []
    for _ in range(runs):
        start, start_cpu = time.perf_counter(), cpu_seconds()
        result = call()
        walls.append(time.perf_counter() - start)
        cpus.append(cpu_seconds() - start_cpu)
        del result
    return statistics.median(walls), min(walls), max(walls), statistics.median(cpus)


def cpu_seconds():
    t = os.times()
    return t.user + t.system + t.children_user + t.children_system


def show(label, t, reference=None):
    median, low, high, cpu = t
    line = f"{label:<28}: {median:7.3f} s median ({low:.3f} .. {high:.3f}), cpu {cpu:.3f} s"
    if reference is not None:
        line += f"  = {median / reference[0]:.2f} x {reference_label}"
    print(line, flush=True)


def peak_beyond_imports(code, path):
    """Peak resident memory of a fresh interpreter running code, less the
    peak after importing numpy and morven, in MiB. VmHWM of the process's own
    memory: ru_maxrss would carry the peak of this process over the exec."""
    script = f"""
import sys, numpy, morven
def peak():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
base = peak()
path = sys.argv[1]
{code}
print((peak() - base) / 1024)
"""
    out = subprocess.run([sys.executable, "-c", script, path], check=True, capture_output=True,
                         text=True).stdout
    return float(out.split()[-1])


path, mvscan = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
size = os.path.getsize(path)
workdir = tempfile.mkdtemp()  # mvscan -p writes inspect.png here

for _ in range(2):
    subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
words = morven.open(path).packets()
print(f"file: {size} bytes, {len(words)} packet words; {os.cpu_count()} cores; runs: {runs}")
assert np.array_equal(words, bench_python_numpy.read_words(path)), "numpy reader disagrees"
del words

cat = timed(runs, lambda: subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True))
reference_label = "cat"
show("cat", cat)
scan = timed(runs, lambda: subprocess.run([mvscan, "-p", path], stdout=subprocess.DEVNULL,
                                          cwd=workdir, check=True))
show("mvscan -p", scan, cat)
stats = timed(runs, lambda: morven.statistics(path))
show("morven.statistics", stats, cat)
print(f"{'statistics / mvscan -p':<28}: {stats[0] / scan[0]:.2f} wall, {stats[3] / scan[3]:.2f} cpu "
      "(target at most 1.2)")

reference_label = "cat"
packets = timed(runs, lambda: morven.open(path).packets())
show("packets()", packets, cat)
both = timed(runs, lambda: morven.decode(morven.open(path).packets()))
show("packets() + decode()", both, cat)
# The same into arrays made once (out=): what a loop over the files of a
# run pays when it reuses its arrays.
words_out = np.empty(size // 8, dtype=np.uint64)
records_out = np.empty(len(morven.open(path).packets(out=words_out)), morven.record_dtype("toatot"))
packets_out = timed(runs, lambda: morven.open(path).packets(out=words_out))
show("packets(out=)", packets_out, cat)
both_out = timed(runs, lambda: morven.decode(morven.open(path).packets(out=words_out),
                                             out=records_out))
show("packets(out=) + decode(out=)", both_out, cat)
plain = timed(runs, lambda: bench_python_numpy.decode(bench_python_numpy.read_words(path)))
show("plain numpy decode", plain, cat)
print(f"{'numpy / (packets + decode)':<28}: {plain[0] / both[0]:.1f} wall, {plain[3] / both[3]:.1f} cpu "
      "(target at least 10)")
print(f"{'numpy / (the same, out=)':<28}: {plain[0] / both_out[0]:.1f} wall, "
      f"{plain[3] / both_out[3]:.1f} cpu")
del words_out, records_out

iter_peak = peak_beyond_imports("for a in morven.open(path).iter_packets(): pass", path)
stats_peak = peak_beyond_imports("morven.statistics(path)", path)
print(f"{'peak memory iter_packets':<28}: {iter_peak:.0f} MiB beyond the imports "
      "(arrays of 8 MiB; limit 64 MiB beyond the arrays)")
print(f"{'peak memory statistics':<28}: {stats_peak:.0f} MiB beyond the imports "
      "(hit map 1.75 MiB, ToA 0.5 MiB; limit 64 MiB)")
