# Type hints of the module morven (a compiled module): installed beside it,
# checked with mypy --strict in the tests, and held to the module's names
# there (python/tests/test_stub.py). The module's properties are read-only:
# Final attributes here.
from os import PathLike
from typing import Any, BinaryIO, Final, Iterable, Literal, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, PathLike[str], PathLike[bytes]]
_Paths = Union[_Path, Iterable[_Path]]
_Layout = Literal["toatot", "pc24"]
_Words = npt.NDArray[np.uint64]
_Counts = npt.NDArray[np.uint64]
_Records = npt.NDArray[np.void]
_Problems = list[tuple[int, str]]

__version__: str

class FormatError(ValueError): ...

class Chunk:
    offset: Final[int]
    header: Final[int]
    type: Final[int]
    type_name: Final[str]
    stream_id: Final[int]
    size: Final[int]
    json: Final[Any]
    json_text: Final[str | None]
    registers: Final[list[tuple[int, bytes]] | None]
    def __repr__(self) -> str: ...

class ChunkIterator:
    def __iter__(self) -> ChunkIterator: ...
    def __next__(self) -> Chunk: ...
    errors: Final[_Problems]

class PacketIterator:
    def __iter__(self) -> PacketIterator: ...
    def __next__(self) -> _Words: ...

class File:
    path: Final[str]
    header: Final[str]
    size: Final[int]
    closed: Final[bool]
    errors: Final[_Problems]
    def chunks(self) -> ChunkIterator: ...
    def packets(
        self,
        skip: int = 0,
        reverse_words: bool = False,
        reverse_bytes: bool = False,
        pelvan: bool = False,
        *,
        out: _Words | None = None,
    ) -> _Words: ...
    def iter_packets(
        self,
        skip: int = 0,
        reverse_words: bool = False,
        reverse_bytes: bool = False,
        pelvan: bool = False,
        max_words: int = 1048576,
    ) -> PacketIterator: ...
    def close(self) -> None: ...
    def __enter__(self) -> File: ...
    def __exit__(self, *args: object) -> None: ...
    def __repr__(self) -> str: ...

class Statistics:
    packets: Final[int]
    type_counts: Final[_Counts]
    hits: Final[_Counts]
    toa: Final[_Counts]
    chunk_counts: Final[dict[str, int]]
    structure_errors: Final[_Problems]
    hit_map: Final[_Counts]
    toa_hits: Final[_Counts]
    tot: Final[_Counts]
    pc_bins: Final[_Counts]
    pc_counts: Final[_Counts]
    hit_total: Final[int]
    idle: Final[int]
    empty: Final[int]
    frame_words: Final[int]
    median: Final[int]
    chunk_hits: Final[list[_Counts]]
    hot_pixels: Final[_Counts]
    dead_blocks: Final[list[tuple[str, int]]]
    hot_factor: Final[float]
    def __add__(self, other: Statistics) -> Statistics: ...
    # sum() starts from 0: 0 + s is s.
    def __radd__(self, other: int) -> Statistics: ...
    def add(self, other: Statistics, *, allow_duplicates: bool = False) -> Statistics: ...
    @staticmethod
    def sum(items: Iterable[Statistics], *, allow_duplicates: bool = False) -> Statistics: ...
    @staticmethod
    def load(source: _Path, *, hot_factor: float = 10.0) -> Statistics: ...
    def to_json(self) -> str: ...
    def save(self, path: _Path) -> None: ...
    def report(self, *, histogram_bins: int | None = None, eoc_list: bool = False) -> str: ...
    def save_image(self, path: _Path) -> None: ...
    # A matplotlib figure.
    def plot(self, log: bool = True, figure: Any = None) -> Any: ...
    def __getstate__(self) -> tuple[bytes, float, str]: ...
    def __setstate__(self, state: tuple[bytes, float, str]) -> None: ...
    def __repr__(self) -> str: ...

class CheckResult:
    errors: Final[_Records]
    runs: Final[_Records]
    heartbeat_errors: Final[_Records]
    idles: Final[int]
    heartbeats: Final[int]
    learned: Final[int]
    checked: Final[int]
    packets: Final[int]
    structure_errors: Final[_Problems]
    anything_checked: Final[bool]
    def __repr__(self) -> str: ...

def open(path: _Path) -> File: ...
def iter_packets(
    source: _Path | BinaryIO,
    skip: int = 0,
    reverse_words: bool = False,
    reverse_bytes: bool = False,
    pelvan: bool = False,
    max_words: int = 1048576,
) -> PacketIterator: ...
def follow(
    path: _Path,
    idle: float = 0.0,
    interval: float = 0.2,
    skip: int = 0,
    reverse_words: bool = False,
    reverse_bytes: bool = False,
    pelvan: bool = False,
    max_words: int = 1048576,
) -> PacketIterator: ...
def decode(
    words: npt.ArrayLike, layout: _Layout = "toatot", *, out: _Records | None = None
) -> _Records: ...
def record_dtype(layout: _Layout = "toatot") -> np.dtype[np.void]: ...
def statistics(
    paths: _Paths,
    skip: int = 0,
    reverse_words: bool = False,
    reverse_bytes: bool = False,
    pelvan: bool = False,
    frame_bits: Literal[8, 16] | None = None,
    hot_factor: float = 10.0,
) -> Statistics: ...
def check_counters(
    paths: _Paths,
    links: int = 1,
    skip: int = 0,
    reverse_words: bool = False,
    reverse_bytes: bool = False,
) -> CheckResult: ...
# The same parameters.
check_testgen = check_counters
