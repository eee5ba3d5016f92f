"""Files from anywhere: zstd and gzip files read by their content, binary
file objects (pipes, sockets) read once through readinto, and files
followed while they are written."""

import gzip
import os
import shutil
import subprocess
import threading
import time

import numpy as np
import pytest

import morven
from conftest import MVGEN


def compressed(path, tool):
    """The file compressed by the system's zstd or gzip, beside it."""
    out = str(path) + (".zst" if tool == "zstd" else ".gz")
    with open(out, "wb") as f:
        subprocess.run([tool, "-c", str(path)], stdout=f, check=True)
    return out


@pytest.mark.parametrize("tool", ["zstd", "gzip"])
def test_compressed_file_reads_as_the_plain_file(mvgen, tool):
    plain = mvgen("run.mv", "-n", "50000", "-c", "4000")
    packed = compressed(plain, tool)
    a, b = morven.open(plain), morven.open(packed)
    assert b.size == a.size == os.path.getsize(plain)
    assert np.array_equal(b.packets(), a.packets())
    assert np.array_equal(b.packets(skip=7, reverse_words=True), a.packets(skip=7, reverse_words=True))
    assert [c.type for c in b.chunks()] == [c.type for c in a.chunks()]
    assert b.errors == a.errors == []
    sa, sb = morven.statistics(plain), morven.statistics(packed)
    assert sb.packets == sa.packets
    assert np.array_equal(sb.hits, sa.hits)


def test_damaged_compressed_file_says_where(mvgen):
    plain = mvgen("run.mv", "-n", "300000")
    packed = compressed(plain, "zstd")
    data = bytearray(open(packed, "rb").read())
    cut = packed + ".cut.zst"
    with open(cut, "wb") as f:
        f.write(data[: len(data) // 2])
    errors = morven.open(cut).errors
    assert errors[0][1].startswith("Read error in " + cut + ": the compressed stream is cut short at byte ")
    assert errors[0][1].endswith(" of the uncompressed data")


@pytest.mark.parametrize("max_words", [1, 1000, 1 << 20])
def test_iter_packets_of_a_pipe(mvgen, max_words):
    plain = mvgen("run.mv", "-n", "20000", "-c", "3000")
    whole = morven.open(plain).packets()
    with subprocess.Popen(["cat", plain], stdout=subprocess.PIPE) as cat:
        arrays = list(morven.iter_packets(cat.stdout, max_words=max_words))
    assert all(0 < len(a) <= max_words for a in arrays)
    assert np.array_equal(np.concatenate(arrays), whole)


def test_iter_packets_of_python_file_objects(mvgen):
    plain = mvgen("run.mv", "-n", "20000")
    whole = morven.open(plain).packets()
    with open(plain + ".gz", "wb") as f:
        f.write(gzip.compress(open(plain, "rb").read()))
    # Decompressed by Python's gzip module, then by the module's own reader.
    with gzip.open(plain + ".gz", "rb") as f:
        assert np.array_equal(np.concatenate(list(morven.iter_packets(f))), whole)
    assert np.array_equal(np.concatenate(list(morven.iter_packets(plain + ".gz"))), whole)


def test_file_object_that_fails_raises_oserror(mvgen):
    plain = mvgen("run.mv", "-n", "20000")
    data = open(plain, "rb").read()

    class Failing:
        name = "failing"

        def __init__(self):
            self.at = 0

        def readinto(self, view):
            if self.at > 60000:
                raise RuntimeError("the link went down")
            n = min(len(view), 4096, len(data) - self.at)
            view[:n] = data[self.at : self.at + n]
            self.at += n
            return n

    words = []
    with pytest.raises(OSError, match="Read error in failing: readinto raised .*the link went down"):
        for a in morven.iter_packets(Failing(), max_words=1000):
            words.append(a)
    assert 0 < sum(len(a) for a in words) < 20000


def test_follow_yields_words_as_they_are_written(tmp_path):
    whole = tmp_path / "whole.mv"
    subprocess.run([MVGEN, "-n", "60000", "-c", "5000", "-o", str(whole)], check=True,
                   stdout=subprocess.DEVNULL)
    data = whole.read_bytes()
    grow = tmp_path / "grow.mv"
    grow.write_bytes(data[:40000])
    got_first = threading.Event()

    def writer():
        # The rest only once the first words have come: they came while the
        # file was still being written.
        got_first.wait(10)
        with open(grow, "ab") as f:
            for at in range(40000, len(data), 30000):
                f.write(data[at : at + 30000])
                f.flush()
                time.sleep(0.05)

    t = threading.Thread(target=writer)
    t.start()
    arrays = []
    expected = morven.open(whole).packets()
    # The idle time only bounds the test: it ends when every word has come.
    for a in morven.follow(grow, idle=60, max_words=100000):
        arrays.append(a)
        got_first.set()
        if sum(len(x) for x in arrays) >= len(expected):
            break
    t.join()
    assert len(arrays) > 1
    assert np.array_equal(np.concatenate(arrays), expected)


def test_follow_of_a_shrinking_file_raises_oserror(mvgen):
    path = mvgen("grow.mv", "-n", "20000")
    it = morven.follow(path, idle=5)
    first = next(it)
    assert len(first) > 0
    os.truncate(path, 100)
    with pytest.raises(OSError, match="the file shrank from"):
        for _ in it:
            pass


@pytest.mark.parametrize("answer, message", [
    (None, "readinto returned None \\(a non-blocking file\\): give a blocking one"),
    (-3, "readinto returned -3 for a buffer of"),
    (10**9, "readinto returned 1000000000 for a buffer of"),
])
def test_file_object_with_a_wrong_answer_raises_oserror(answer, message):
    class Odd:
        name = "odd"

        def readinto(self, view):
            return answer

    with pytest.raises(OSError, match="Read error in odd: " + message):
        list(morven.iter_packets(Odd()))
