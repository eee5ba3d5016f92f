"""Nothing that failed returns as if it had succeeded: damaged and cut
compressed files raise OSError naming the file and the reason wherever they
are read, binary file objects are decompressed as files are, words outside
64 bits are refused, and names with a zero byte in them are refused rather
than cut short."""

import subprocess

import numpy as np
import pytest

import morven
from conftest import TOATOT, MorvenFile


WORDS = 65536


def random_file(path, chunks=6):
    """Chunks of random words, which gzip and zstd store as they are; each
    chunk one word longer than the one before. (A zstd frame larger than
    the reader's buffers is handed on before its checksum is checked.)"""
    rng = np.random.default_rng(7)
    f = MorvenFile()
    for c in range(chunks):
        f.chunk(TOATOT, rng.integers(0, 2**64, size=WORDS + c, dtype=np.uint64))
    return f.write(path)


def compress(path, tool):
    out = path + (".gz" if tool == "gzip" else ".zst")
    with open(out, "wb") as f:
        subprocess.run([tool, "-q", "-c", path], stdout=f, check=True)
    return out


CHECK_FAILS = {"gzip": "gzip: incorrect data check", "zstd": "zstd: Restored data doesn't match checksum"}


@pytest.fixture(params=["gzip", "zstd"])
def damaged(request, tmp_path):
    """A compressed file with 16 bytes overwritten over the header of its
    fourth chunk: the walk stops there, and only the checksum at the end
    of the stream tells the damage. (path, the message of its read error)"""
    tool = request.param
    plain = random_file(str(tmp_path / "run.mv"))
    packed = compress(plain, tool)
    data = open(plain, "rb").read()
    at = 8 + sum(8 + 8 * (WORDS + c) for c in range(3))
    raw = bytearray(open(packed, "rb").read())
    where = raw.find(data[at:at + 24])
    assert where > 0
    raw[where:where + 16] = b"\x55" * 16
    open(packed, "wb").write(raw)
    # gzip hands on every byte before its CRC; zstd holds back the frame's
    # last block (of at most 128 KiB) with its checksum.
    failed_at = len(data) if tool == "gzip" else len(data) - len(data) % (128 * 1024)
    return packed, (f"Read error in {packed}: {CHECK_FAILS[tool]} at byte {failed_at} of the "
                    "uncompressed data; the figures before it may hold damaged data")


def test_every_reading_of_a_damaged_file_raises(damaged):
    path, message = damaged
    for read in (morven.statistics, morven.check_counters, morven.check_testgen,
                 lambda p: morven.open(p).packets(),
                 lambda p: morven.open(p).packets(out=np.zeros(1 << 20, dtype=np.uint64)),
                 lambda p: list(morven.open(p).chunks()),
                 lambda p: list(morven.iter_packets(p)),
                 lambda p: list(morven.open(p).iter_packets())):
        with pytest.raises(OSError) as e:
            read(path)
        assert str(e.value) == message
    # The list of problems has it, after the header that ended the walk.
    errors = morven.open(path).errors
    assert [m for _, m in errors][-1] == message
    assert errors[-2][1].startswith("Invalid header 0x5555")


def test_the_chunks_before_the_failure_come_first(damaged):
    path, message = damaged
    chunks = morven.open(path).chunks()
    assert [next(chunks).size for _ in range(3)] == [8 * WORDS, 8 * WORDS + 8, 8 * WORDS + 16]
    with pytest.raises(OSError, match="Read error in "):
        next(chunks)
    with pytest.raises(StopIteration):
        next(chunks)


def test_a_cut_file_raises_with_its_name(tmp_path):
    packed = compress(random_file(str(tmp_path / "run.mv")), "zstd")
    cut = str(tmp_path / "cut.zst")
    open(cut, "wb").write(open(packed, "rb").read()[:600000])
    for read in (morven.statistics, morven.check_counters):
        with pytest.raises(OSError, match=f"^Read error in {cut}: the compressed stream is cut "
                                          "short at byte [0-9]+ of the uncompressed data$"):
            read(cut)
    # Of several files: the one that failed.
    with pytest.raises(OSError, match=f"^Read error in {cut}: "):
        morven.statistics([packed, cut])


@pytest.mark.parametrize("tool", ["gzip", "zstd"])
def test_file_objects_are_decompressed(tmp_path, tool):
    plain = random_file(str(tmp_path / "run.mv"))
    packed = compress(plain, tool)
    whole = morven.open(plain).packets()
    with open(packed, "rb") as f:
        arrays = list(morven.iter_packets(f, max_words=5000))
    assert np.array_equal(np.concatenate(arrays), whole)
    with subprocess.Popen(["cat", packed], stdout=subprocess.PIPE) as cat:
        arrays = list(morven.iter_packets(cat.stdout))
    assert np.array_equal(np.concatenate(arrays), whole)


def test_a_damaged_file_object_raises(damaged):
    path, message = damaged
    with open(path, "rb") as f:
        with pytest.raises(OSError) as e:
            list(morven.iter_packets(f))
    assert str(e.value) == message


@pytest.mark.parametrize("words", [[2**64], [-1], [0, 2**70], [[1], [-2**63]]],
                         ids=["2**64", "-1", "2**70", "nested-negative"])
def test_words_outside_64_bits_are_refused(words):
    with pytest.raises(OverflowError, match=r"^decode: a word must be 0 to 2\*\*64 - 1, not -?[0-9]+$"):
        morven.decode(words)


def test_words_at_the_ends_of_64_bits_decode():
    assert morven.decode([0, 2**64 - 1])["type"].tolist() == [0, 255]


@pytest.fixture
def named(tmp_path):
    """A data file f.mv, its statistics, and a name that holds a zero byte
    after f.mv's name."""
    path = random_file(str(tmp_path / "f.mv"), chunks=1)
    return path, morven.statistics(path), path + "\0trailing"


@pytest.mark.parametrize("call", [
    lambda s, n: morven.open(n),
    lambda s, n: morven.statistics(n),
    lambda s, n: morven.statistics(["ok", n]),
    lambda s, n: morven.check_counters(n),
    lambda s, n: morven.check_testgen(n),
    lambda s, n: morven.iter_packets(n),
    lambda s, n: morven.iter_packets(n.encode()),
    lambda s, n: morven.follow(n, idle=0.1),
    lambda s, n: morven.Statistics.load(n),
    lambda s, n: s.save(n),
    lambda s, n: s.save_image(n),
], ids=["open", "statistics", "statistics-list", "check_counters", "check_testgen",
        "iter_packets", "iter_packets-bytes", "follow", "load", "save", "save_image"])
def test_names_with_a_zero_byte_are_refused(named, call):
    path, statistics, name = named
    with pytest.raises(ValueError, match="^embedded null byte$"):
        call(statistics, name)
