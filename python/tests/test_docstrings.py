"""Every function, class, method and property of the module has a docstring
of its own (beyond the signature pybind11 writes), and the ones that stand
for a figure of the JSON report name it where the names differ."""

import inspect

import pytest

import morven

DUNDERS = ("__iter__", "__next__", "__enter__", "__exit__", "__repr__")


def own_doc(obj):
    """The docstring without the signature line that pybind11 puts first."""
    lines = (getattr(obj, "__doc__", None) or "").strip().splitlines()
    if lines and lines[0].split("(")[0].strip().isidentifier() and "(" in lines[0]:
        lines = lines[1:]
    return "\n".join(lines).strip()


def members():
    for name, obj in sorted(vars(morven).items()):
        if name.startswith("_"):
            continue
        yield name, obj
        if inspect.isclass(obj) and not issubclass(obj, BaseException):
            for n, m in sorted(vars(obj).items()):
                if (n.startswith("_") and n not in DUNDERS) or n.startswith("_pybind11"):
                    continue
                yield f"{name}.{n}", m


MEMBERS = dict(members())


def test_the_module_has_all_it_should():
    for name in ("open", "decode", "statistics", "check_counters", "check_testgen", "File",
                 "File.packets", "File.size", "Chunk.type_name", "Statistics.hits",
                 "CheckResult.runs", "CheckResult.anything_checked"):
        assert name in MEMBERS, name


@pytest.mark.parametrize("name", sorted(MEMBERS))
def test_every_member_has_a_docstring(name):
    assert len(own_doc(MEMBERS[name])) >= 12, name


@pytest.mark.parametrize("name, json_name", [
    ("File.path", "files[].name"),
    ("Chunk.type", "chunks[].type_number"),
    ("Chunk.type_name", "chunks[].type"),
    ("Chunk.stream_id", "chunks[].stream"),
    ("Chunk.size", "chunks[].bytes"),
    ("Statistics.type_counts", "statistics.types"),
    ("Statistics.hits", "statistics.hits"),
    ("Statistics.toa", "statistics.toa.counts"),
    ("CheckResult.runs", "error_runs"),
    ("CheckResult.packets", "totals.packets"),
    ("CheckResult.anything_checked", "totals.anything_checked"),
    ("decode", '"pixnr"'),
])
def test_json_report_names_in_the_docstrings(name, json_name):
    assert json_name in own_doc(MEMBERS[name])
