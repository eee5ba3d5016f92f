"""The quick-look figures of morven.statistics (hits only) against the JSON
document and the hot-pixel list of mvscan -p --json --hot-pixels over the
same files, and Statistics.plot()."""

import json

import numpy as np
import pytest

import morven
from conftest import FRAME8, TOATOT, MorvenFile, mvscan

IDLE = 0x1E


def document_figures(doc):
    """Hits per pixel, ToA and ToT of the hits, from the document's tallies
    with the words that are not hits taken out."""
    st = doc["statistics"]
    idle = st["idle"]
    hits = np.zeros((512, 448), dtype=np.int64)
    for index, x, y, n in st["hits"]:
        hits[y, x] += n
    for index, n in st["frame_hits"]:
        hits[[h[2] for h in st["hits"] if h[0] == index][0],
             [h[1] for h in st["hits"] if h[0] == index][0]] -= n
    hits[0, 0] -= sum(idle.values())  # an IDLE word reads as pixel x 0, y 0
    toa = np.zeros(65536, dtype=np.int64)
    for value, n in st["toa"]["counts"]:
        toa[value] = n
    toa[0] -= idle["toatot"]
    tot = np.zeros(2048, dtype=np.int64)
    for value, n in st["tot"]["counts"]:
        tot[value] = n
    tot[15] -= idle["toatot"]  # and ToT 15
    return hits, toa, tot, st


RUNS = [("toatot", ["-k", "toatot", "-n", "200K", "-c", "30000"]),
        ("pc24", ["-k", "pc24", "-n", "100K"]),
        ("frame8", ["-k", "frame8", "-n", "20K"])]


@pytest.mark.parametrize("options", [o for _, o in RUNS], ids=[n for n, _ in RUNS])
def test_quick_look_equals_the_document(mvgen, tmp_path, options):
    path = mvgen("run.mv", *options)
    stats = morven.statistics(path)
    doc = json.loads(mvscan("-p", "--json", "--no-image", "--hot-pixels", tmp_path / "hot.csv",
                            path, cwd=tmp_path))
    hits, toa, tot, st = document_figures(doc)
    assert np.array_equal(stats.hit_map.astype(np.int64), hits)
    assert np.array_equal(stats.toa_hits.astype(np.int64), toa)
    assert np.array_equal(stats.tot.astype(np.int64), tot)
    assert stats.hit_total == hits.sum()
    assert stats.idle == sum(st["idle"].values()) and stats.empty == st["empty"]
    assert stats.frame_words == sum(n for _, n in st["frame_hits"])
    assert [list(c) for c in stats.chunk_hits] == st["chunk_hits"]
    pc = dict(st["pc"]["counts"])
    pc[30] = pc.get(30, 0) - st["idle"]["pc24"]  # an IDLE word counts 30, alone in its bin
    assert [pc.get(int(low), 0) for low in stats.pc_bins] == list(stats.pc_counts)
    lines = (tmp_path / "hot.csv").read_text().split()
    assert lines[0] == "x,y,index,count"
    assert stats.hot_pixels.tolist() == [[int(v) for v in line.split(",")] for line in lines[1:]]


def test_idle_and_frame_words_are_not_hits(tmp_path):
    path = tmp_path / "idle.mv"
    pixel = (5 << 55) | (7 << 46) | (1234 << 30) | (40 << 1)  # EoC 5, pixel 7, ToA 1234, ToT 40
    path.write_bytes(MorvenFile().chunk(TOATOT, [IDLE] * 30 + [pixel] * 4)
                     .chunk(FRAME8, [pixel] * 9).data)
    stats = morven.statistics(str(path))
    assert (stats.packets, stats.hit_total, stats.idle, stats.frame_words) == (43, 4, 30, 9)
    assert stats.hits.sum() == 43  # the picture's map counts every word
    assert stats.hit_map.sum() == 4 and stats.toa_hits[1234] == 4 and stats.toa_hits[0] == 0
    assert stats.tot[40] == 4 and stats.tot.sum() == 4
    assert [list(c) for c in stats.chunk_hits] == [[4, 0]]


def test_hot_pixels_dead_blocks_and_factor(tmp_path):
    # A flat field of 5 hits per pixel in EoC blocks 96..104 but for block
    # 100, and one pixel of block 98 with 60.
    words = [(eoc << 55) | (p << 46) for eoc in range(96, 105) if eoc != 100
             for p in range(512) for _ in range(5)]
    words += [(98 << 55) | (77 << 46)] * 55
    path = tmp_path / "hot.mv"
    path.write_bytes(MorvenFile().chunk(TOATOT, words).data)
    stats = morven.statistics(str(path))
    assert stats.median == 5
    assert stats.hot_pixels.tolist() == [[197, 37, 98 << 9 | 77, 60]]
    assert stats.dead_blocks == [("bottom", 100)]
    assert len(morven.statistics(str(path), hot_factor=12).hot_pixels) == 0
    with pytest.raises(ValueError):
        morven.statistics(str(path), hot_factor=1)


def test_plot(mvgen):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    stats = morven.statistics(mvgen("run.mv", "-n", "50K"))
    figure = stats.plot()
    titles = [ax.get_title() for ax in figure.axes]
    assert "Hits per pixel" in titles and "ToA of the hits" in titles
    assert "ToT of the hits" in titles and "Hits per data chunk" in titles
