"""morven.check_counters and morven.check_testgen against the report lines of
mvscan -q and -Q over the same files: every error line, every closed run of
errors, every heartbeat out of sequence, the counts and totals."""

import re

import pytest

import morven
from conftest import TOATOT, MorvenFile, mvscan

ERROR = re.compile(r"^### +(\d+): (.*)$")
COUNTER_ERROR = re.compile(r"^([0-9a-f]+), expected ([0-9a-f]+)$")
TESTGEN_ERROR = re.compile(
    r"^pixnr= *([0-9a-f]+) \( *([0-9a-f]+)\), eoc= *([0-9a-f]+) \( *([0-9a-f]+)\), "
    r"toa +([0-9a-f]+) \( *([0-9a-f]+)\)(?:, fixed= *([0-9a-f]+))?"
    r"(?: \(lnk=([0-9a-f]+)\)| \(diffs = (\d+), (\d+), pix=(\d+)\))$")
RUN = re.compile(r"^### Consecutive errs (?:\(lnk=(\d+)\))?: (\d+) \(cnt=(\d+)\)$")
HEARTBEAT = re.compile(r"^### HEARTBEAT (\d+) \((\d+)\)$")


def report_findings(report):
    """What a check's report says, per kind of line, in order."""
    found = dict(errors=[], runs=[], heartbeats=[], idles=0, heartbeat_count=0, unchecked=0,
                 total=None)
    for line in report.splitlines():
        if m := ERROR.match(line):
            packet, rest = int(m.group(1)), m.group(2)
            if c := COUNTER_ERROR.match(rest):
                found["errors"].append(dict(packet=packet, found=int(c.group(1), 16),
                                            expected=int(c.group(2), 16)))
                continue
            t = TESTGEN_ERROR.match(rest)
            assert t, line
            e = dict(packet=packet, pixel=int(t.group(1), 16), expected_pixel=int(t.group(2), 16),
                     eoc=int(t.group(3), 16), expected_eoc=int(t.group(4), 16),
                     toa=int(t.group(5), 16), expected_toa=int(t.group(6), 16),
                     fixed_wrong=t.group(7) is not None, has_jumps=t.group(9) is not None)
            if t.group(7):
                e["fixed"] = int(t.group(7), 16)
            if t.group(8):
                e["link"] = int(t.group(8), 16)
            if t.group(9):
                e.update(pixel_jump=int(t.group(9)), toa_jump=int(t.group(10)),
                         since_previous=int(t.group(11)))
            found["errors"].append(e)
        elif m := RUN.match(line):
            found["runs"].append(dict(length=int(m.group(2)), packet=int(m.group(3)),
                                      **({"link": int(m.group(1))} if m.group(1) else {})))
        elif m := HEARTBEAT.match(line):
            found["heartbeats"].append(dict(found=int(m.group(1)), expected=int(m.group(2))))
        elif line.startswith("IDLE packets: "):
            found["idles"] += int(line.split(": ")[1])
        elif line.startswith("HEARTBEAT packets: "):
            found["heartbeat_count"] += int(line.split(": ")[1])
        elif line == "### Nothing was actually checked: check file contents":
            found["unchecked"] += 1
        elif m := re.match(r"^Total (?:pixelpackets|'packets') = (\d+)", line):
            found["total"] = int(m.group(1))
    return found


def records(array):
    return [{name: array[name][i].item() for name in array.dtype.names} for i in range(len(array))]


def assert_same_findings(result, report):
    expected = report_findings(report)
    got = records(result.errors)
    assert len(got) == len(expected["errors"])
    for g, e in zip(got, expected["errors"]):
        assert {k: g[k] for k in e} == e
    runs = records(result.runs)
    assert len(runs) == len(expected["runs"])
    for g, e in zip(runs, expected["runs"]):
        assert {k: g[k] for k in e} == e
    assert [{k: h[k] for k in ("found", "expected")} for h in records(result.heartbeat_errors)] == \
        expected["heartbeats"]
    assert result.idles == expected["idles"]
    assert result.heartbeats == expected["heartbeat_count"]
    assert result.packets == expected["total"]
    assert result.anything_checked == (expected["unchecked"] == 0)


# (kind, links, mvgen's errors): a file of the test generator's pattern or
# of counters, checked by the check of its kind.
CHECKED = [
    ("testgen", 1, ["-e", "toa@1000", "-e", "fixed@2000", "-e", "missing@3000"]),
    ("testgen", 3, ["-e", "toa@1000", "-e", "fixed@2000", "-e", "missing@4001"]),
    ("testgen", 8, ["-e", "fixed@77", "-e", "toa@5000"]),
    ("testgen", 4, ["-W", "-e", "fixed@300"]),
    ("testgen", 2, []),
    ("counter", 1, ["-e", "corrupt@100", "-e", "missing@200", "-e", "repeat@300"]),
    ("counter", 2, ["-e", "corrupt@100", "-e", "missing@2000", "-e", "repeat@3001"]),
    ("counter", 5, ["-W", "-e", "corrupt@1000"]),
]
CHECK_OF_KIND = {"testgen": (morven.check_testgen, "-Q", "tg.mv"),
                 "counter": (morven.check_counters, "-q", "c.mv")}


@pytest.mark.parametrize("kind, links, errors", CHECKED, ids=[str(c) for c in CHECKED])
def test_check_equals_the_command_line(mvgen, kind, links, errors):
    check, flag, name = CHECK_OF_KIND[kind]
    path = mvgen(name, "-k", kind, "-L", links, "-n", "20K", "-c", "3000", *errors)
    result = check(path, links=links)
    assert_same_findings(result, mvscan(flag, "-L", links, path))
    assert result.checked > 0
    # the test-generator check knows no Pelvan blocks: their words are errors
    if kind == "testgen" and "-W" not in errors:
        assert len(result.errors) == errors.count("-e")


@pytest.mark.parametrize("check, flag", [(morven.check_counters, "-q"),
                                         (morven.check_testgen, "-Q")])
@pytest.mark.parametrize("kind", ["toatot", "pc24", "testgen", "counter"])
def test_checks_of_the_wrong_kind_equal_the_command_line(mvgen, check, flag, kind):
    # streams the check does not fit: long runs of errors, runs open at the end
    path = mvgen("run.mv", "-k", kind, "-n", "30K", "-L" if kind in ("testgen", "counter") else "-c",
                 2 if kind in ("testgen", "counter") else 5000)
    for links in (1, 2):
        assert_same_findings(check(path, links=links), mvscan(flag, "-L", links, path))


def test_several_files_and_skip(mvgen):
    paths = [mvgen(f"c{i}.mv", "-k", "counter", "-n", "10K", "-s", i, "-e", f"corrupt@{100 * i + 50}")
             for i in range(1, 4)]
    for skip in (0, 120):
        result = morven.check_counters(paths, skip=skip)
        assert_same_findings(result, mvscan("-q", "-s", skip, *paths))


def test_heartbeats_out_of_sequence_and_nothing_checked(tmp_path):
    fixed = 0x2AEBA954
    first = (3 << 55) | (7 << 46) | (100 << 30) | fixed
    heartbeat = [(0xFF << 55) | n for n in (0, 1, 5, 6, 2)]
    path = MorvenFile().chunk(TOATOT, [first] + heartbeat + [0x1E]).write(tmp_path / "hb.mv")
    result = morven.check_testgen(path)
    assert_same_findings(result, mvscan("-Q", path))
    assert [(h["found"], h["expected"]) for h in records(result.heartbeat_errors)] == [(5, 2), (2, 7)]
    assert result.idles == 1 and result.heartbeats == 5
    # one word: learned, nothing checked
    path = MorvenFile().chunk(TOATOT, [first]).write(tmp_path / "one.mv")
    for check, flag in ((morven.check_testgen, "-Q"), (morven.check_counters, "-q")):
        result = check(path)
        assert not result.anything_checked and result.learned == 1
        assert_same_findings(result, mvscan(flag, path))


def test_bad_links(tmp_path):
    path = MorvenFile().chunk(TOATOT, [1]).write(tmp_path / "one.mv")
    for links in (0, 9):
        with pytest.raises(ValueError):
            morven.check_counters(path, links=links)
