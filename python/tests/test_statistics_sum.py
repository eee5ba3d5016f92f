"""Statistics that add up: morven.Statistics added, pickled, saved and loaded
against one mvscan -p over all the files (the statistics block it prints
after its last file, and its picture) and against mvscan --merge over the
documents of mvscan -p --json (the sums and the refusals)."""

import concurrent.futures
import multiprocessing
import os
import pickle
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import morven
from conftest import MVSCAN, assert_same_statistics, mvscan


@pytest.fixture
def files(mvgen):
    """Three small files of both layouts, with different contents."""
    return [mvgen("a.mv", "-k", "toatot", "-n", "40K", "-s", 1),
            mvgen("b.mv", "-k", "pc24", "-n", "25K", "-s", 2),
            mvgen("c.mv", "-k", "toatot", "-n", "30K", "-c", "5000", "-s", 3)]


def one_run(paths, tmp_path, *flags):
    """The statistics block that mvscan -p prints after the last file (the
    report ends with it and a blank line), and the run's picture."""
    picture = tmp_path / "one-run.png"
    report = mvscan("-p", *flags, "--image", picture, *paths)
    assert report.endswith("\n\n")
    return report, picture.read_bytes()


def saved_and_loaded(parts, tmp_path):
    names = []
    for i, part in enumerate(parts):
        names.append(tmp_path / f"part{i}.json")
        part.save(names[-1])
    return sum(morven.Statistics.load(name) for name in names)


# The ways to add the statistics of the files one by one.
ADDING = {
    "plus": lambda parts, tmp_path: parts[0] + parts[1] + parts[2],
    "sum": lambda parts, tmp_path: sum(parts),
    "Statistics.sum": lambda parts, tmp_path: morven.Statistics.sum(parts),
    "Statistics.sum of a generator": lambda parts, tmp_path: morven.Statistics.sum(
        pickle.loads(pickle.dumps(p)) for p in parts),
    "pickled": lambda parts, tmp_path: sum(pickle.loads(pickle.dumps(p)) for p in parts),
    "saved and loaded": saved_and_loaded,
    "loaded from text": lambda parts, tmp_path: sum(
        morven.Statistics.load(p.to_json()) for p in parts),
    "nested": lambda parts, tmp_path: parts[0] + (parts[1] + parts[2]),
}


@pytest.mark.parametrize("way", ADDING.values(), ids=ADDING.keys())
def test_sum_is_one_run(files, tmp_path, way):
    parts = [morven.statistics(path) for path in files]
    total = way(parts, tmp_path)
    report, picture = one_run(files, tmp_path)
    assert report.endswith("\n" + total.report() + "\n")
    assert_same_statistics(total, morven.statistics(files))
    total.save_image(tmp_path / "sum.png")
    assert (tmp_path / "sum.png").read_bytes() == picture


def test_report_options_are_those_of_the_command_line(files, tmp_path):
    total = sum(morven.statistics(path, skip=7) for path in files)
    report, _ = one_run(files, tmp_path, "-s", "7", "-e", "-H", "9")
    assert report.endswith("\n" + total.report(histogram_bins=9, eoc_list=True) + "\n")
    for bins in (0, 65537, -1, 2**70):
        with pytest.raises(ValueError, match="histogram_bins must be 1 to 65536"):
            total.report(histogram_bins=bins)
    for bins in ("9", 9.0, True):
        with pytest.raises(TypeError, match="histogram_bins must be an int or None"):
            total.report(histogram_bins=bins)


def test_documents_are_those_of_the_command_line(files, tmp_path):
    """A saved statistics document merges with the command line's own, and a
    loaded document of the command line adds up in Python."""
    (tmp_path / "a.json").write_text(mvscan("-p", "--json", "--no-image", files[0]))
    morven.statistics(files[1:]).save(tmp_path / "bc.json")
    merged = mvscan("--merge", "--no-image", tmp_path / "a.json", tmp_path / "bc.json")
    report, _ = one_run(files, tmp_path)
    assert report.endswith("\n" + merged + "\n")
    total = morven.Statistics.load(tmp_path / "a.json") + morven.Statistics.load(
        str(tmp_path / "bc.json").encode())
    assert total.report() == merged
    # The document of a statistics run is the command line's, byte for byte.
    assert morven.statistics(files[0]).to_json() == (tmp_path / "a.json").read_text()
    merged_json = mvscan("--merge", "--json", "--no-image", tmp_path / "a.json",
                         tmp_path / "bc.json")
    assert total.to_json() == merged_json


def test_a_file_counted_twice_is_refused_as_by_the_merge(files, tmp_path):
    a, ab = morven.statistics(files[0]), morven.statistics(files[:2])
    size = os.path.getsize(files[0])
    with pytest.raises(ValueError) as refused:
        a + ab
    assert str(refused.value) == (
        f"Cannot add the statistics of {files[0]} and 1 more files: the file {files[0]} "
        f"({size} bytes) is already counted from the statistics of {files[0]} "
        "(allow_duplicates=True counts it again)")
    a.save(tmp_path / "a.json")
    ab.save(tmp_path / "ab.json")
    line = mvscan("--merge", tmp_path / "a.json", tmp_path / "ab.json", status=2)
    assert line == (f"### Cannot merge {tmp_path / 'ab.json'}: the file {files[0]} ({size} bytes) "
                    f"is already counted from {tmp_path / 'a.json'} (--allow-duplicates counts it "
                    "again)\n")
    twice = a.add(ab, allow_duplicates=True)
    report, _ = one_run([files[0], files[0], files[1]], tmp_path)
    assert report.endswith("\n" + twice.report() + "\n")
    with pytest.raises(ValueError, match="already counted"):
        morven.Statistics.sum([a, a])
    assert morven.Statistics.sum([a, a], allow_duplicates=True).packets == 2 * a.packets


# Counting options that differ between the two parts; the merge refuses them.
OTHER_COUNTING = {
    "skip": (dict(skip=5), ["-s", "5"]),
    "reverse_words": (dict(reverse_words=True), ["-w"]),
    "reverse_bytes": (dict(reverse_bytes=True), ["-r"]),
    "pelvan": (dict(pelvan=True), ["-W"]),
}


@pytest.mark.parametrize("options, flags", OTHER_COUNTING.values(), ids=OTHER_COUNTING.keys())
def test_other_counting_options_are_refused_as_by_the_merge(files, tmp_path, options, flags):
    with pytest.raises(ValueError) as refused:
        morven.statistics(files[0]) + morven.statistics(files[1], **options)
    (tmp_path / "a.json").write_text(mvscan("-p", "--json", "--no-image", files[0]))
    (tmp_path / "b.json").write_text(mvscan("-p", "--json", "--no-image", *flags, files[1]))
    line = mvscan("--merge", tmp_path / "a.json", tmp_path / "b.json", status=2)
    why = line.split(": ", 1)[1].rstrip("\n")
    assert why.startswith("made with other counting options")
    assert str(refused.value) == f"Cannot add the statistics of {files[1]}: {why}"


def test_only_statistics_add_up(files):
    a = morven.statistics(files[0])
    assert 0 + a is a
    for other in (1, 0.0, "a", None, False):
        with pytest.raises(TypeError):
            a + other
        with pytest.raises(TypeError):
            other + a
    with pytest.raises(TypeError, match="not int"):
        morven.Statistics.sum([a, 3])
    with pytest.raises(ValueError, match="no statistics to add"):
        morven.Statistics.sum([])


def test_loading_refuses_what_the_merge_refuses(files, tmp_path):
    check = tmp_path / "check.json"
    check.write_text(mvscan("--json", files[0]))
    with pytest.raises(ValueError) as refused:
        morven.Statistics.load(check)
    assert str(refused.value) == f"Cannot load {check}: a file-check document, not statistics"
    with pytest.raises(ValueError, match="^Cannot load the document text: not an mvscan-report"):
        morven.Statistics.load('{"x": 1}')
    text = morven.statistics(files[0]).to_json()
    with pytest.raises(ValueError, match="^Cannot load the document text: "):
        morven.Statistics.load(text.replace('"packets":', '"packets":-', 1))
    with pytest.raises(FileNotFoundError):
        morven.Statistics.load(tmp_path / "missing.json")
    with pytest.raises(ValueError, match="hot_factor must be above 1"):
        morven.Statistics.load(text, hot_factor=1)


def test_hot_factor_travels(files):
    a = morven.statistics(files[0], hot_factor=3)
    b = pickle.loads(pickle.dumps(a))
    assert b.hot_factor == 3
    assert_same_statistics(a, b)
    assert morven.Statistics.load(a.to_json(), hot_factor=3).hot_factor == 3
    assert (a + morven.statistics(files[1])).hot_factor == 3


def test_files_that_cannot_be_written(files, tmp_path):
    a = morven.statistics(files[0])
    with pytest.raises(OSError):
        a.save(tmp_path / "no-such-folder" / "a.json")
    with pytest.raises(OSError, match="no-such-folder"):
        a.save_image(tmp_path / "no-such-folder" / "a.png")


def test_the_picture_is_the_hit_map(files, tmp_path):
    a = morven.statistics(files)
    a.save_image(tmp_path / "a.png")
    picture = np.array(Image.open(tmp_path / "a.png"), dtype=np.uint16)[:, :448]
    expected = (65535.0 * a.hits / a.hits.max()).astype(np.uint16)[::-1, :]
    assert np.array_equal(picture, expected)


def test_statistics_travel_between_processes(files, tmp_path):
    """Statistics made in other processes and pickled back add up to one run."""
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        parts = list(pool.map(morven.statistics, files))
    report, _ = one_run(files, tmp_path)
    assert report.endswith("\n" + sum(parts).report() + "\n")


@pytest.mark.parametrize("name", ["statistics", "check_counters", "check_testgen",
                                  "Statistics.sum", "Statistics.load"])
def test_functions_travel_by_name(name):
    """What a pool or a distributed engine sends to its workers: the function
    by its name in the module."""
    function = morven
    for part in name.split("."):
        function = getattr(function, part)
    assert pickle.loads(pickle.dumps(function)) is function


def test_a_damaged_pickle_is_refused(files):
    state = morven.statistics(files[0]).__getstate__()
    document = state[0]
    for bad in [(document, 10.0), ("text", 10.0, "x"), (document, 10, "x"), (document, "10", "x")]:
        with pytest.raises(TypeError, match="not the state of a morven.Statistics"):
            morven.Statistics.__new__(morven.Statistics).__setstate__(bad)
    damaged = document.replace(b'"packets":', b'"packets":1', 1)
    with pytest.raises(ValueError, match="^Cannot load x: "):
        morven.Statistics.__new__(morven.Statistics).__setstate__((damaged, 10.0, "x"))
