"""morven.statistics against the report of mvscan -p over the same files: the
EoC and control counters (-e), the ToA histogram (-H 65536, one value per
bin), the total, the chunk counters, and the picture inspect.png, whose
brightness is the hit map scaled to its largest count."""

import re

import numpy as np
import pytest
from PIL import Image

import morven
from conftest import mvscan


def report_figures(report):
    """The figures of the last file's statistics block: they count over all
    files of the run."""
    lines = report.splitlines()
    start = max(i for i, l in enumerate(lines) if l == "=> EoC counters:")
    types = np.zeros(256, dtype=np.uint64)
    i = start + 1
    while re.match(r"^\s*\d+\s+\d+", lines[i]):
        t, count = lines[i].split()[:2]
        types[int(t)] = int(count)
        i += 1
    assert lines[i] == "  ToA     Bin Count"
    toa = np.zeros(65536, dtype=np.uint64)
    i += 2
    while len(lines[i].split()) == 2:
        value, count = map(int, lines[i].split())
        toa[value] = count
        i += 1
    total = int(re.match(r"Total pixelpackets = (\d+)$", lines[i + 2]).group(1))
    chunks = {}
    assert lines[i + 4] == "=> Chunk counters:"
    for line in lines[i + 5:]:
        if not re.match(r"^\S+\s+\d+$", line):
            break
        name, count = line.split()
        chunks[name] = int(count)
    return types, toa, total, chunks


def picture_of(hits):
    """The picture's matrix part as mvscan draws it from the hit map: chip row
    0 at the bottom, brightness 65535 for the largest count."""
    most = hits.max()
    if most == 0:
        return np.zeros((512, 448), dtype=np.uint16)
    return (65535.0 * hits / most).astype(np.uint16)[::-1, :]


def assert_same_figures(stats, paths, flags, tmp_path):
    report = mvscan("-p", "-e", "-H", "65536", *flags, *paths, cwd=tmp_path)
    types, toa, total, chunks = report_figures(report)
    assert stats.packets == total
    assert np.array_equal(stats.type_counts, types)
    assert np.array_equal(stats.toa, toa)
    assert stats.chunk_counts == chunks
    assert stats.hits.shape == (512, 448) and stats.hits.dtype == np.uint64
    # every hit of a data packet is on the map (EoC blocks 0..223 only)
    assert stats.hits.sum() == types[:224].sum()
    picture = np.array(Image.open(tmp_path / "inspect.png"), dtype=np.uint16)
    assert picture.shape == (512, 460)
    assert np.array_equal(picture[:, :448], picture_of(stats.hits))


KINDS = [
    ("toatot", []),
    ("pc24", []),
    ("frame8", []),
    ("frame16", []),
    ("testgen", ["-L", "4"]),
    ("counter", ["-L", "2"]),
    ("toatot", ["-W"]),
]


@pytest.mark.parametrize("kind, options", KINDS, ids=[k + "".join(o) for k, o in KINDS])
def test_statistics_equal_the_command_line(mvgen, tmp_path, kind, options):
    path = mvgen(kind + ".mv", "-k", kind, "-n", "300K", "-c", "40000", "-s", 11, *options)
    pelvan = "-W" in options
    stats = morven.statistics(path, pelvan=pelvan)
    assert stats.packets == 300 * 1024
    assert_same_figures(stats, [path], ["-W"] if pelvan else [], tmp_path)


@pytest.mark.parametrize("options, flags", [
    (dict(skip=12345), ["-s", "12345"]),
    (dict(reverse_words=True), ["-w"]),
    (dict(reverse_bytes=True, skip=3), ["-r", "-s", "3"]),
    (dict(reverse_words=True, reverse_bytes=True, pelvan=True), ["-w", "-r", "-W"]),
    (dict(frame_bits=16), ["-F", "16"]),
])
def test_options_equal_the_command_line(mvgen, tmp_path, options, flags):
    path = mvgen("run.mv", "-k", "toatot", "-n", "200K", "-c", "30000")
    assert_same_figures(morven.statistics(path, **options), [path], flags, tmp_path)


def test_several_files_count_together(mvgen, tmp_path):
    paths = [mvgen("a.mv", "-k", "toatot", "-n", "100K"), mvgen("b.mv", "-k", "pc24", "-n", "50K"),
             mvgen("c.mv", "-k", "toatot", "-n", "70K", "-s", 3)]
    stats = morven.statistics(paths, skip=10)
    assert stats.packets == 220 * 1024
    assert_same_figures(stats, paths, ["-s", "10"], tmp_path)


def test_hits_of_known_packets(tmp_path):
    from conftest import TOATOT, MorvenFile
    words = [0x0287400000000000] * 3 + [0x8287400000000000] + [0xE0 << 55]
    path = MorvenFile().chunk(TOATOT, words).write(tmp_path / "known.mv")
    stats = morven.statistics(path)
    assert stats.hits[13, 11] == 3 and stats.hits[498, 436] == 1 and stats.hits.sum() == 4
    assert stats.type_counts[5] == 4 and stats.type_counts[224] == 1
    assert stats.toa[0] == 4


def test_bad_frame_bits(mvgen):
    path = mvgen("run.mv", "-n", "10")
    with pytest.raises(ValueError):
        morven.statistics(path, frame_bits=12)
