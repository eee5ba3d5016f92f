"""A typed use of the module, checked with mypy --strict against the type
hints (morven.pyi) and run by the tests: read, decode into arrays made
once, add statistics, save and load them."""

import sys
from pathlib import Path

import numpy as np
import numpy.typing as npt

import morven


def hits_per_column(paths: list[str]) -> npt.NDArray[np.uint64]:
    total = morven.Statistics.sum(morven.statistics(path) for path in paths)
    by_sum = sum(morven.statistics(path) for path in paths)
    assert isinstance(by_sum, morven.Statistics) and by_sum.packets == total.packets
    column: npt.NDArray[np.uint64] = total.hits.sum(axis=0)
    return column


def decode_all(paths: list[str]) -> int:
    words = np.empty(max(morven.open(p).size for p in paths) // 8, dtype=np.uint64)
    hits = 0
    for path in paths:
        with morven.open(path) as f:
            read = f.packets(out=words)
        records = np.empty(len(read), morven.record_dtype("toatot"))
        fields = morven.decode(read, "toatot", out=records)
        hits += int(np.count_nonzero(fields["type"] < 224))
    return hits


def round_trip(path: str, folder: Path) -> str:
    stats = morven.statistics(path, hot_factor=5.0)
    stats.save(folder / "stats.json")
    again = morven.Statistics.load(folder / "stats.json", hot_factor=5.0)
    again.save_image(folder / "stats.png")
    twice = again.add(morven.statistics(path), allow_duplicates=True)
    report: str = twice.report(histogram_bins=4)
    return report


if __name__ == "__main__":
    files = sys.argv[2:]
    print(int(hits_per_column(files).sum()), decode_all(files))
    print(round_trip(files[0], Path(sys.argv[1])), end="")
