"""Times File.packets() of one file, warm page cache: each call reads the
whole packet stream into a fresh array. Prints one line per call, the wall
and processor seconds of this process (all its threads).

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_threads_packets.py FILE [CALLS]
"""

import os
import sys
import time

import morven


def cpu_seconds():
    t = os.times()
    return t.user + t.system


def main():
    path = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    f = morven.open(path)
    for _ in range(calls):
        start, start_cpu = time.perf_counter(), cpu_seconds()
        words = f.packets()
        wall, cpu = time.perf_counter() - start, cpu_seconds() - start_cpu
        n = len(words)
        del words
        print(f"{wall:.4f} {cpu:.4f} {n}", flush=True)


if __name__ == "__main__":
    main()
