"""Damaged files: the problems of the chunk walk are those the command line
reports, at the offsets of the chunks concerned, and nothing crashes."""

import numpy as np
import pytest

import morven
from conftest import (CHIPINFO, RUNINFO, TOATOT, VX7CFG, MorvenFile, chunk_word, displayed_words,
                      mvscan, register_record, reported_problems)


def good_file():
    f = MorvenFile()
    f.bytes_chunk(CHIPINFO, b'{"chip": "Vexar7"}\0')
    f.bytes_chunk(VX7CFG, register_record(4, [1, 2, 3]))
    f.chunk(TOATOT, [0x0287400000000000 + i for i in range(40)])
    f.chunk(TOATOT, [0x8287400000000000 + i for i in range(20)])
    return f


# Each case: the file, and the offsets of the problems the walk must report.
def cases():
    size = len(good_file().data)
    yield "cut inside the last data chunk", good_file().cut(size - 13), [size - 168]
    yield "cut inside a header word", good_file().cut(size - 168 + 3), []
    yield "invalid header", good_file().word(chunk_word(0x3FFF, 2)).word(1).word(2), [size]
    yield "JSON that does not parse", MorvenFile().bytes_chunk(RUNINFO, b'{"run": 1,,}\0'), [8]
    yield "JSON cut by the end of the file", MorvenFile().word(chunk_word(RUNINFO, 40)).raw(b'{"run"'), [8, 8]
    yield "registers cut by the end of the file", MorvenFile().word(chunk_word(VX7CFG, 9)).raw(bytes(20)), [8, 8]
    yield "a chunk larger than the file", MorvenFile().word(chunk_word(TOATOT, 0xFFFFFFFF)).words([1, 2]), [8]
    yield "only the file header", MorvenFile(), []
    yield "trailing bytes", good_file().raw(b"\1\2\3"), None


CASES = list(cases())


@pytest.mark.parametrize("name, built, offsets", CASES, ids=[c[0] for c in CASES])
def test_problems_are_those_of_the_command_line(tmp_path, name, built, offsets):
    path = built.write(tmp_path / "damaged.mv")
    f = morven.open(path)
    problems = f.errors
    assert [m for _, m in problems] == reported_problems(mvscan(path))
    if offsets is not None:
        assert [o for o, _ in problems] == offsets
    # the chunks iterator finds the same
    chunks = f.chunks()
    list(chunks)
    assert chunks.errors == problems
    # the packet words are those mvscan -R displays, and the statistics run
    # reports the problems of the file check, a data chunk cut by the end of
    # the file included (which the text of mvscan -p does not mention)
    assert np.array_equal(f.packets(), displayed_words(path))
    statistics = morven.statistics(path)
    assert statistics.structure_errors == problems


def test_problem_offsets_name_the_chunk(tmp_path):
    # an invalid header after two good chunks, at the offset of its header word
    f = MorvenFile().chunk(TOATOT, [1, 2, 3]).bytes_chunk(RUNINFO, b'{"a": }\0')
    bad_at = len(f.data)
    f.word(chunk_word(0x3FFF, 1)).word(0)
    path = f.write(tmp_path / "bad.mv")
    assert morven.open(path).errors == [
        (40, "Error reading JSON from chunk MVHDR_RUNINFO"),
        (bad_at, "Invalid header 0x3fff000000000000 @ index=%d" % bad_at),
    ]


def test_random_damage_never_crashes(tmp_path):
    # Bytes flipped and files cut at random places in a good file: every call
    # returns, the problems are those of the command line.
    rng = np.random.default_rng(7)
    base = bytes(good_file().data)
    for i in range(60):
        data = bytearray(base)
        for at in rng.integers(8, len(data), size=int(rng.integers(1, 6))):
            data[at] = int(rng.integers(0, 256))
        if i % 3 == 0:
            del data[int(rng.integers(8, len(data))):]
        path = tmp_path / f"random{i}.mv"
        path.write_bytes(bytes(data))
        f = morven.open(path)
        assert [m for _, m in f.errors] == reported_problems(mvscan(path))
        list(f.chunks())
        words = f.packets()
        assert np.array_equal(words, displayed_words(path))
        morven.decode(words)
        morven.statistics(path, pelvan=True)
        morven.check_counters(path)
        morven.check_testgen(path, links=3)
