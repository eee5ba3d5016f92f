"""The README's Dask recipe on a local cluster of two worker processes: the
workers read the files (only their names are submitted) and add the
statistics, and the result is one mvscan -p over the same files, byte for
byte in the report and pixel for pixel in the picture."""

import logging
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import morven
from conftest import assert_same_statistics, mvscan

distributed = pytest.importorskip(
    "dask.distributed", reason="dask.distributed cannot be imported (Debian: python3-distributed)")

README = Path(__file__).resolve().parents[2] / "README.md"
# The tornado of Debian's dask warns of its own event-loop calls.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
# Seconds the cluster may take to start, to answer and to stop.
TIMEOUT = 120


def readme_recipe():
    """The README's indented block that defines night_statistics."""
    lines = README.read_text().splitlines()
    start = lines.index("    import os")
    block = []
    for line in lines[start:]:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    code = "\n".join(block)
    assert "def night_statistics(client, paths, timeout=None):" in code
    scope = {}
    exec(compile(code, "README.md", "exec"), scope)
    return scope["night_statistics"]


@pytest.fixture
def client():
    cluster = distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                       host="127.0.0.1", dashboard_address=None,
                                       silence_logs=logging.ERROR, timeout=TIMEOUT)
    try:
        with distributed.Client(cluster, timeout=TIMEOUT) as c:
            c.wait_for_workers(2, timeout=TIMEOUT)
            yield c
    finally:
        cluster.close(timeout=TIMEOUT)


def test_the_recipe_is_one_run(client, mvgen, tmp_path):
    paths = [mvgen(f"{i}.mv", "-k", kind, "-n", n, "-s", i)
             for i, (kind, n) in enumerate([("toatot", "30K"), ("pc24", "20K"), ("toatot", "25K"),
                                            ("toatot", "10K"), ("pc24", "15K")])]
    night_statistics = readme_recipe()
    with distributed.get_task_stream(client) as tasks:
        night = night_statistics(client, paths, timeout=TIMEOUT)
    # Each file was read by a worker, and the sum made by one.
    workers = set(client.scheduler_info()["workers"])
    ran = sorted(t["key"].split("-")[0] for t in tasks.data)
    assert ran == ["statistics"] * len(paths) + ["sum"]
    assert {t["worker"] for t in tasks.data} <= workers

    report = mvscan("-p", "--image", tmp_path / "one.png", *paths)
    assert report.endswith("\n" + night.report() + "\n")
    night.save_image(tmp_path / "night.png")
    one = np.array(Image.open(tmp_path / "one.png"))
    assert np.array_equal(np.array(Image.open(tmp_path / "night.png")), one)
    assert (tmp_path / "night.png").read_bytes() == (tmp_path / "one.png").read_bytes()
    assert_same_statistics(night, morven.statistics(paths))


def test_a_refusal_comes_back_from_the_workers(client, mvgen):
    path = mvgen("a.mv", "-n", "5K")
    night_statistics = readme_recipe()
    with pytest.raises(ValueError, match="already counted"):
        night_statistics(client, [path, path], timeout=TIMEOUT)
