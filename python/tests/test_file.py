"""morven.open: header, chunks, the packet words of the pixel scan, errors."""

import errno
import json
import threading

import numpy as np
import pytest

import morven
from conftest import (CHIPINFO, DATA_UNKNOWN, RUNINFO, TOATOT, TOATOT_TOP, USER_BIN, VX7CFG,
                      MorvenFile, chunk_word, displayed_words, mvscan, reference_words,
                      register_record)

# A file with one chunk of each sort: JSON, registers, data in two chunks with
# other chunks between them, a user chunk with a stream id.
REGISTERS = [(0x0004, [0x59, 0xD0, 0x74, 0x7A]), (0x0010, list(range(40))), (0x00FF, [])]
RUN_INFO = {"run": 12, "mode": "ToA/ToT", "links": [1, 2], "pelvan": False}
DATA_1 = [0x0287400000000000 + i for i in range(300)]
DATA_2 = [0x8287400000000000 + (i << 30) for i in range(130)]


def small_file(path):
    f = MorvenFile()
    f.bytes_chunk(CHIPINFO, b'{"chip": "Vexar7", "rows": 512}\0')
    f.bytes_chunk(VX7CFG, b"".join(register_record(a, v) for a, v in REGISTERS))
    f.chunk(TOATOT, DATA_1, stream_id=3)
    f.bytes_chunk(RUNINFO, json.dumps(RUN_INFO).encode() + b"\0")
    f.chunk(USER_BIN, [1, 2, 3], stream_id=0xBEEF)
    f.chunk(TOATOT_TOP, DATA_2, stream_id=0xFFFF)
    return f.write(path)


def test_header_size_and_chunks(tmp_path):
    path = small_file(tmp_path / "small.mv")
    with morven.open(path) as f:
        assert f.header == "MORVEN"
        assert f.size == (tmp_path / "small.mv").stat().st_size
        chunks = list(f.chunks())
        assert f.errors == []
    names = [c.type_name for c in chunks]
    assert names == ["MVHDR_CHIPINFO", "MVHDR_VX7CFG", "MVHDR_VX7TOATOT", "MVHDR_RUNINFO",
                     "USERHDR_BIN_Content3", "MVHDR_VX7TOATOT_TOP"]
    assert [c.type for c in chunks] == [CHIPINFO, VX7CFG, TOATOT, RUNINFO, USER_BIN, TOATOT_TOP]
    assert [c.stream_id for c in chunks] == [0, 0, 3, 0, 0xBEEF, 0xFFFF]
    assert [c.size for c in chunks] == [32, 8 + 8 + 8 + 40 + 8, 2400, 72, 24, 1040]
    offsets = [8]
    for c in chunks[:-1]:
        offsets.append(offsets[-1] + 8 + c.size)
    assert [c.offset for c in chunks] == offsets
    assert chunks[5].header == chunk_word(TOATOT_TOP, 130, 0xFFFF)
    assert chunks[0].json == {"chip": "Vexar7", "rows": 512}
    assert chunks[3].json == RUN_INFO
    assert chunks[1].registers == [(a, bytes(v)) for a, v in REGISTERS]
    assert chunks[2].json is None and chunks[2].registers is None


def test_json_text_as_the_command_line_prints_it(mvgen):
    path = mvgen("run.mv", "-k", "toatot", "-n", "1000")
    texts = [c.json_text for c in morven.open(path).chunks() if c.json_text is not None]
    assert len(texts) == 3
    report = mvscan("-j", path)
    for text in texts:
        assert "\n" + text + "\n" in report


def test_packets_are_the_words_the_scan_walks(mvgen):
    # 3 M words in chunks of 2.5 M words: the first chunk is read in 16 MiB
    # pieces and its last piece is cut by the chunk's end.
    path = mvgen("big.mv", "-k", "pc24", "-n", "3M", "-c", "2621440")
    words = morven.open(path).packets()
    assert words.dtype == np.uint64 and len(words) == 3 * 2**20
    assert np.array_equal(words, reference_words(path))
    assert np.array_equal(words, displayed_words(path))


@pytest.mark.parametrize("options", [
    dict(skip=5),
    dict(reverse_words=True),
    dict(reverse_bytes=True),
    dict(skip=301, reverse_words=True, reverse_bytes=True),
    dict(skip=10**9),
])
def test_packets_with_skip_and_reversal(tmp_path, options):
    path = small_file(tmp_path / "small.mv")
    words = morven.open(path).packets(**options)
    assert np.array_equal(words, reference_words(path, **options))
    flags = ["-s", options.get("skip", 0)]
    flags += ["-w"] if options.get("reverse_words") else []
    flags += ["-r"] if options.get("reverse_bytes") else []
    assert np.array_equal(words, displayed_words(path, *flags))


def test_pelvan_leaves_out_block_headers_trailers_and_zero_words(mvgen):
    path = mvgen("pelvan.mv", "-k", "counter", "-W", "-n", "1000", "-c", "300")
    for skip in (0, 1, 127, 200):
        words = morven.open(path).packets(skip=skip, pelvan=True)
        assert np.array_equal(words, reference_words(path, skip=skip, pelvan=True))
    # zero words inside blocks are left out too
    f = MorvenFile().chunk(TOATOT, [0xAA, 5, 0, 7] + [0] * 124 + [0xBB, 9])
    words = morven.open(f.write(path + ".zero")).packets(pelvan=True)
    assert words.tolist() == [5, 7, 9]


@pytest.mark.parametrize("max_words", [1, 7, 128, 300, 10**6])
def test_iter_packets_in_bounded_arrays(tmp_path, max_words):
    path = small_file(tmp_path / "small.mv")
    f = morven.open(path)
    for options in (dict(), dict(skip=3, reverse_bytes=True), dict(pelvan=True)):
        arrays = list(f.iter_packets(max_words=max_words, **options))
        assert all(0 < len(a) <= max_words and a.dtype == np.uint64 for a in arrays)
        assert np.array_equal(np.concatenate(arrays), f.packets(**options))


def test_iter_packets_needs_a_positive_size(tmp_path):
    f = morven.open(small_file(tmp_path / "small.mv"))
    with pytest.raises(ValueError):
        f.iter_packets(max_words=0)


def test_refused_data_header_is_read_other_refused_headers_end_the_stream(tmp_path):
    # A refused header of a data type still has its payload read as packets;
    # a refused header of another type ends the walk.
    f = MorvenFile().chunk(TOATOT, [1, 2]).chunk(DATA_UNKNOWN, [3, 4]).chunk(TOATOT, [5])
    path = f.write(tmp_path / "refused.mv")
    words = morven.open(path).packets()
    assert np.array_equal(words, displayed_words(path))
    g = MorvenFile().chunk(TOATOT, [1, 2]).word(chunk_word(0x3FFF, 1)).word(9).chunk(TOATOT, [5])
    path = g.write(tmp_path / "refused2.mv")
    assert morven.open(path).packets().tolist() == [1, 2]
    assert np.array_equal(morven.open(path).packets(), displayed_words(path))


def test_missing_file_raises_oserror(tmp_path):
    missing = tmp_path / "nothing.mv"
    with pytest.raises(OSError) as e:
        morven.open(missing)
    assert e.value.errno == errno.ENOENT and e.value.filename == str(missing)
    with pytest.raises(FileNotFoundError):
        morven.statistics([str(missing)])
    with pytest.raises(IsADirectoryError):
        morven.open(tmp_path)


@pytest.mark.parametrize("content, message", [
    (b"MOR", "Failed to read file header"),
    (b"", "Failed to read file header"),
    (b"MORVEX\0\0" + bytes(8), "Doesn't look like a MORVEN data file: expected header "
                               "0x00004e4556524f4d, got 0x0000584556524f4d"),
])
def test_not_a_morven_file_raises_format_error(tmp_path, content, message):
    path = tmp_path / "bad.mv"
    path.write_bytes(content)
    with pytest.raises(morven.FormatError, match=message):
        morven.open(path)
    with pytest.raises(morven.FormatError):
        morven.statistics(path)
    with pytest.raises(morven.FormatError):
        morven.check_counters(path)
    assert issubclass(morven.FormatError, ValueError)
    # the command line says it on two lines
    assert message in mvscan(path, status=2).replace(":\n    ", ": ")


def test_closed_file(tmp_path):
    with morven.open(small_file(tmp_path / "small.mv")) as f:
        assert not f.closed
    assert f.closed
    for call in (f.packets, f.chunks, f.iter_packets, lambda: f.errors):
        with pytest.raises(ValueError, match="closed"):
            call()


def test_two_threads_read_two_files(mvgen):
    paths = [mvgen(f"t{i}.mv", "-k", "toatot", "-n", "2M", "-s", i + 1) for i in range(2)]
    results = [None, None]

    def read(i):
        f = morven.open(paths[i])
        results[i] = (f.packets(), morven.statistics(paths[i]).packets)

    threads = [threading.Thread(target=read, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i in range(2):
        assert np.array_equal(results[i][0], reference_words(paths[i]))
        assert results[i][1] == 2 * 2**20


def test_one_iterator_shared_by_threads(mvgen):
    # Each array and each chunk goes to exactly one of the threads.
    path = mvgen("shared.mv", "-k", "pc24", "-n", "300K", "-c", "1000")
    f = morven.open(path)
    packets, chunks = f.iter_packets(max_words=777), f.chunks()
    got_packets, got_chunks = [], []

    def drain():
        for a in packets:
            got_packets.append(a)
        for c in chunks:
            got_chunks.append(c.offset)

    threads = [threading.Thread(target=drain) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert np.array_equal(np.sort(np.concatenate(got_packets)), np.sort(f.packets()))
    assert sorted(got_chunks) == [c.offset for c in f.chunks()]
