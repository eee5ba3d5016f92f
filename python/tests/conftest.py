"""What the tests of the Python module share: the mvscan and mvgen programs of
the build, a builder of MORVEN files in memory, readers of mvscan's report
lines, and an independent reader of packet words written from the format."""

import atexit
import shutil
import os
import re
import subprocess
import struct
import tempfile
from pathlib import Path

import numpy as np
import pytest

BUILD = Path(__file__).resolve().parents[2] / "build"
MVSCAN = os.environ.get("MVSCAN_BINARY", str(BUILD / "mvscan"))
MVGEN = os.environ.get("MVGEN_BINARY", str(BUILD / "tools" / "mvgen"))

# Chunk types, the type field of the header word (bits 63..48).
TOATOT_TOP = 0x0000
TOATOT_BOTTOM = 0x0001
TOATOT = 0x0002
PC24 = 0x0012
FRAME8 = 0x0022
DATA_UNKNOWN = 0x03FF  # a data type the reader refuses
VX7CFG = 0x1001
CHIPINFO = 0x1401
RUNINFO = 0x1403
USER_BIN = 0x7003

MAGIC = b"MORVEN\0\0"


def chunk_word(chunk_type, size_words, stream_id=0):
    return (chunk_type << 48) | ((stream_id & 0xFFFF) << 32) | (size_words & 0xFFFFFFFF)


def register_record(address, value):
    record = struct.pack("<II", address, len(value)) + bytes(value)
    return record + b"\0" * (-len(record) % 8)


class MorvenFile:
    """A MORVEN file built in memory: header, chunks, damage."""

    def __init__(self, header=MAGIC):
        self.data = bytearray(header)

    def word(self, w):
        self.data += struct.pack("<Q", w)
        return self

    def words(self, ws):
        self.data += np.asarray(ws, dtype="<u8").tobytes()
        return self

    def chunk(self, chunk_type, ws, stream_id=0):
        self.word(chunk_word(chunk_type, len(ws), stream_id))
        return self.words(ws)

    def bytes_chunk(self, chunk_type, payload, stream_id=0):
        payload = bytes(payload) + b"\0" * (-len(payload) % 8)
        self.word(chunk_word(chunk_type, len(payload) // 8, stream_id))
        self.data += payload
        return self

    def raw(self, b):
        self.data += b
        return self

    def cut(self, n):
        del self.data[n:]
        return self

    def write(self, path):
        Path(path).write_bytes(bytes(self.data))
        return str(path)


# Where mvscan -p writes its picture when a test does not look at it;
# removed when the test session ends.
PICTURE_FOLDER = tempfile.mkdtemp(prefix="mvscan-pytest-")
atexit.register(shutil.rmtree, PICTURE_FOLDER, True)


def mvscan(*args, cwd=None, status=0):
    """mvscan's standard output; it must exit with the status given (2: a
    file could not be read) and nothing on standard error."""
    done = subprocess.run([MVSCAN, *map(str, args)], capture_output=True,
                          cwd=cwd or PICTURE_FOLDER)
    assert done.returncode == status and done.stderr == b""
    return done.stdout.decode("latin-1")


@pytest.fixture
def mvgen(tmp_path):
    """mvgen(name, *options): a file written by mvgen into the test's folder."""

    def make(name, *options):
        path = tmp_path / name
        subprocess.run([MVGEN, *map(str, options), "-o", str(path)], check=True, capture_output=True)
        return str(path)

    return make


# Report lines that close a file check, not problems of the chunk walk.
SUMMARY_PROBLEMS = ("### There were errors in this file", "### Not at end-of-file?")


def reported_problems(report):
    """The '### ' lines of a file check, without the mark and the summary lines."""
    return [
        line[4:]
        for line in report.splitlines()
        if line.startswith("### ") and not line.startswith(SUMMARY_PROBLEMS)
    ]


RAW_LINE = re.compile(r"^[0-9a-f]{16}$")


def displayed_words(path, *options):
    """The words mvscan -R displays, as a numpy array."""
    report = mvscan("-R", *options, path)
    return np.array([int(l, 16) for l in report.splitlines() if RAW_LINE.match(l)], dtype=np.uint64)


def reference_words(path, skip=0, reverse_words=False, reverse_bytes=False, pelvan=False):
    """The packet words of a well-formed file, read here from the format: the
    payloads of the data chunks (group id 0) in file order; the skip first,
    then the reversals; with Pelvan framing, words numbered from 1 and the
    block headers (n % 128 == 1), trailers (n % 128 == 0) and zero words
    left out."""
    data = Path(path).read_bytes()
    assert data[:8] == MAGIC
    pieces = []
    at = 8
    while at + 8 <= len(data):
        (word,) = struct.unpack_from("<Q", data, at)
        size = (word & 0xFFFFFFFF) * 8
        if word >> 60 == 0:
            pieces.append(np.frombuffer(data, dtype="<u8", count=size // 8, offset=at + 8))
        at += 8 + size
    w = np.concatenate(pieces).astype(np.uint64) if pieces else np.zeros(0, np.uint64)
    number = np.arange(1, len(w) + 1, dtype=np.uint64)
    w, number = w[skip:], number[skip:]
    if reverse_words:
        w = (w << np.uint64(32)) | (w >> np.uint64(32))
    if reverse_bytes:
        w = w.byteswap()
    if pelvan:
        position = number % np.uint64(128)
        keep = (position > 1) & (w != 0)
        w = w[keep]
    return w


# Every figure of a morven.Statistics.
STATISTICS_FIGURES = ("packets", "type_counts", "hits", "toa", "chunk_counts", "structure_errors",
                      "hit_map", "toa_hits", "tot", "pc_bins", "pc_counts", "hit_total", "idle",
                      "empty", "frame_words", "median", "chunk_hits", "hot_pixels", "dead_blocks",
                      "hot_factor")


def assert_same_statistics(a, b):
    """Every figure of the two statistics is the same."""
    for name in STATISTICS_FIGURES:
        x, y = getattr(a, name), getattr(b, name)
        if name == "chunk_hits":
            assert len(x) == len(y) and all(np.array_equal(p, q) for p, q in zip(x, y)), name
        elif isinstance(x, np.ndarray):
            assert x.dtype == y.dtype and np.array_equal(x, y), name
        else:
            assert x == y, name
