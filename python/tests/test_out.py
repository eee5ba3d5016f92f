"""out= on File.packets and morven.decode: the caller's array filled in
place, with the same words and records as a fresh array, and arrays that
cannot take them refused before anything is read or written."""

import numpy as np
import pytest

import morven
from conftest import reference_words


@pytest.fixture
def run(mvgen):
    return mvgen("run.mv", "-k", "toatot", "-n", "20K", "-c", "3000", "-s", 4)


READINGS = {
    "plain": {},
    "skip": dict(skip=101),
    "reversed": dict(reverse_words=True, reverse_bytes=True),
    "pelvan": dict(pelvan=True),
}


@pytest.mark.parametrize("reading", READINGS.values(), ids=READINGS.keys())
def test_packets_fill_the_array_given(run, reading):
    with morven.open(run) as f:
        fresh = f.packets(**reading)
        out = np.full(f.size // 8, 7, dtype=np.uint64)  # File.size // 8 is always room enough
        got = f.packets(**reading, out=out)
        assert np.shares_memory(got, out) and got.base is out
        assert np.array_equal(got, fresh)
        assert np.array_equal(got, reference_words(run, **reading))
        # exactly the words' length is enough
        exact = np.empty(len(fresh), dtype=np.uint64)
        assert np.array_equal(f.packets(**reading, out=exact), fresh)


def test_one_array_serves_several_files(mvgen):
    paths = [mvgen(f"{k}.mv", "-k", k, "-n", n) for k, n in (("toatot", "9K"), ("pc24", "3K"))]
    out = np.empty(max(morven.open(p).size for p in paths) // 8, dtype=np.uint64)
    for path in paths:
        with morven.open(path) as f:
            assert np.array_equal(f.packets(out=out), f.packets())


def test_packets_that_do_not_fit_are_refused(run):
    with morven.open(run) as f:
        n = len(f.packets())
        with pytest.raises(ValueError, match=f"out holds {n - 1} words, fewer than the packet "
                                             f"words of {run}"):
            f.packets(out=np.empty(n - 1, dtype=np.uint64))
        assert len(f.packets(out=np.empty(n, dtype=np.uint64))) == n


PACKET_OUTS = {
    "list": ([0] * 10, TypeError, "out must be a numpy array, not list"),
    "int64": (np.empty(10**5, np.int64), TypeError, "out must have the dtype uint64, not int64"),
    "big-endian": (np.empty(10**5, ">u8"), TypeError, "out must have the dtype uint64"),
    "float": (np.empty(10**5), TypeError, "out must have the dtype uint64, not float64"),
    "2-D": (np.empty((2, 10**5), np.uint64), ValueError, "not of 2 dimensions"),
    "strided": (np.empty(2 * 10**5, np.uint64)[::2], ValueError, "C-contiguous"),
    "read-only": (np.empty(10**5, np.uint64), ValueError, "writeable"),
}


@pytest.mark.parametrize("out, error, message", PACKET_OUTS.values(), ids=PACKET_OUTS.keys())
def test_packets_refuse_arrays_that_cannot_take_words(run, out, error, message):
    if isinstance(out, np.ndarray) and message == "writeable":
        out.flags.writeable = False
    with morven.open(run) as f, pytest.raises(error, match=message):
        f.packets(out=out)


@pytest.mark.parametrize("layout", ["toatot", "pc24"])
def test_decode_fills_the_array_given(run, layout):
    words = morven.open(run).packets().reshape(-1, 8)[:, :5]
    words = np.ascontiguousarray(words)
    out = np.empty(words.shape, morven.record_dtype(layout))
    for _ in range(2):
        got = morven.decode(words, layout, out=out)
        assert got is out
        assert np.array_equal(got, morven.decode(words, layout))
    assert morven.record_dtype(layout) == morven.decode(words[:1], layout).dtype


def test_decode_into_a_reused_array_changes_every_record(run):
    words = morven.open(run).packets()[:1000]
    out = morven.decode(words[::-1].copy())
    morven.decode(words, out=out)
    assert np.array_equal(out, morven.decode(words))


def decode_outs():
    toatot = morven.record_dtype("toatot")
    words = np.arange(100, dtype=np.uint64)
    read_only = np.empty(100, toatot)
    read_only.flags.writeable = False
    shared = np.empty(100 * toatot.itemsize, np.uint8)
    return {
        "list": (words, [None] * 100, TypeError, "out must be a numpy array, not list"),
        "other layout": (words, np.empty(100, morven.record_dtype("pc24")), TypeError,
                         "out must have the dtype of the layout"),
        "words' dtype": (words, np.empty(100, np.uint64), TypeError, "not uint64"),
        "shorter": (words, np.empty(99, toatot), ValueError,
                    r"the shape of the words, \(100,\), not \(99,\)"),
        "longer": (words, np.empty(101, toatot), ValueError, r"not \(101,\)"),
        "other shape": (words.reshape(10, 10), np.empty(100, toatot), ValueError,
                        r"\(10, 10\), not \(100,\)"),
        "strided": (words, np.empty(200, toatot)[::2], ValueError, "C-contiguous"),
        "read-only": (words, read_only, ValueError, "writeable"),
        "sharing the words": (shared[:800].view(np.uint64), shared.view(toatot), ValueError,
                              "must not share memory with the words"),
    }


DECODE_OUTS = decode_outs()


@pytest.mark.parametrize("words, out, error, message", DECODE_OUTS.values(),
                         ids=DECODE_OUTS.keys())
def test_decode_refuses_arrays_that_cannot_take_records(words, out, error, message):
    before = out.copy() if isinstance(out, np.ndarray) else None
    with pytest.raises(error, match=message):
        morven.decode(words, out=out)
    if before is not None:
        assert before.tobytes() == out.tobytes()


def test_record_dtype_of_an_unknown_layout():
    with pytest.raises(ValueError, match='layout must be "toatot" or "pc24", not "frame"'):
        morven.record_dtype("frame")
