"""morven.decode against a small decoder written here from the packet format."""

import numpy as np
import pytest

import morven


def field(w, high, low):
    return (w >> low) & ((1 << (high - low + 1)) - 1)


def expected_record(w, layout):
    """Every field of one packet, from the bit layout of the format."""
    top = w >> 63
    kind = field(w, 62, 55)
    r = dict(top=bool(top), type=kind, eoc=0, pixel=0, x=0, y=0, timer=0)
    if layout == "toatot":
        r.update(toa=0, uftoa_stop=0, uftoa_start=0, ftoa_rise=0, ftoa_fall=0, tot=0, pileup=False)
    else:
        r.update(pc=0)
    if kind >= 224:
        r["timer"] = field(w, 54, 0)
        return r
    pixel = field(w, 54, 46)
    x = 2 * kind + ((pixel >> 2) & 1)
    y = 4 * (pixel >> 3) + (pixel & 3)
    if top:
        x, y = 447 - x, 511 - y
    r.update(eoc=kind, pixel=pixel, x=x, y=y)
    if layout == "toatot":
        r.update(
            toa=field(w, 45, 30),
            uftoa_stop=field(w, 29, 26),
            uftoa_start=field(w, 25, 22),
            ftoa_rise=field(w, 21, 17),
            ftoa_fall=field(w, 16, 12),
            tot=field(w, 11, 1),
            pileup=bool(w & 1),
        )
    else:
        r.update(pc=field(w, 23, 0))
    return r


def packet(top, eoc, pixel, low=0):
    return (top << 63) | (eoc << 55) | (pixel << 46) | low


# Words with a known meaning, and what the format says of them.
KNOWN = [
    # the worked examples of the format
    (0x0287400000000000, dict(top=False, eoc=5, pixel=0x1D, x=11, y=13)),
    (0x8287400000000000, dict(top=True, eoc=5, pixel=0x1D, x=436, y=498)),
    # the corners of the two halves
    (packet(0, 223, 0x1FF), dict(x=447, y=255)),
    (packet(1, 0, 0), dict(x=447, y=511)),
    (packet(0, 0, 0), dict(x=0, y=0)),
    (packet(1, 223, 0x1FF), dict(x=0, y=256)),
    # the IDLE word is a data packet of EoC 0 by its fields
    (0x000000000000001E, dict(type=0, eoc=0, tot=15)),
    # the empty packet: control code 0xFF of the top half
    (0xFFFFFFFF00000000, dict(top=True, type=255, eoc=0, x=0, y=0, timer=0x7FFFFF00000000)),
    # a heartbeat of the bottom half with its timer
    ((0xE0 << 55) | 0x12345, dict(type=224, timer=0x12345, x=0, y=0)),
    # every ToA/ToT field at its largest
    (packet(0, 17, 0x155, (1 << 46) - 1), dict(toa=0xFFFF, uftoa_stop=15, uftoa_start=15,
                                              ftoa_rise=31, ftoa_fall=31, tot=0x7FF, pileup=True)),
]


@pytest.mark.parametrize("word, known", KNOWN, ids=[hex(w) for w, _ in KNOWN])
def test_known_packets(word, known):
    record = morven.decode(np.array([word], dtype=np.uint64), "toatot")[0]
    for name, value in known.items():
        assert record[name] == value, name


def table_of_words():
    rng = np.random.default_rng(20250827)
    words = [w for w, _ in KNOWN]
    words += [int(w) for w in rng.integers(0, 2**64, size=2000, dtype=np.uint64)]
    # every type byte on both halves, random payload
    words += [(t << 55) | (h << 63) | int(rng.integers(0, 2**55)) for t in range(256) for h in (0, 1)]
    return words


@pytest.mark.parametrize("layout", ["toatot", "pc24"])
def test_every_field_of_a_table_of_packets(layout):
    words = table_of_words()
    records = morven.decode(np.array(words, dtype=np.uint64), layout)
    assert len(records) == len(words)
    assert set(records.dtype.names) == set(expected_record(0, layout))
    for w, record in zip(words, records):
        expected = expected_record(w, layout)
        got = {name: record[name].item() for name in records.dtype.names}
        assert got == expected, hex(w)


def test_shape_and_inputs():
    words = np.array([[0x0287400000000000, 0x8287400000000000]] * 3, dtype=np.uint64)
    records = morven.decode(words)
    assert records.shape == (3, 2)
    assert (records["x"] == [[11, 436]] * 3).all()
    # a list of Python integers and an empty array
    assert morven.decode([0x0287400000000000], "pc24")["y"].tolist() == [13]
    assert len(morven.decode(np.zeros(0, dtype=np.uint64))) == 0


def test_unknown_layout():
    with pytest.raises(ValueError, match="layout"):
        morven.decode(np.zeros(1, dtype=np.uint64), "frame8")


def test_docstrings():
    for thing in (morven, morven.open, morven.decode, morven.statistics, morven.check_counters,
                  morven.check_testgen, morven.File, morven.Chunk, morven.Statistics,
                  morven.CheckResult, morven.FormatError, morven.File.packets,
                  morven.File.iter_packets, morven.File.chunks):
        assert thing.__doc__ and len(thing.__doc__) > 40, thing


def vector_expected(w, layout):
    """The fields of a whole array at once, from the same bit layout."""
    u = np.uint64

    def f(high, low):
        return (w >> u(low)) & u((1 << (high - low + 1)) - 1)

    top, kind, pixel = f(63, 63), f(62, 55), f(54, 46)
    data = kind < 224
    x = 2 * kind + ((pixel >> u(2)) & u(1))
    y = 4 * (pixel >> u(3)) + (pixel & u(3))
    x = np.where(top == 1, 447 - x, x)
    y = np.where(top == 1, 511 - y, y)
    zero = u(0)
    out = dict(top=top, type=kind, eoc=np.where(data, kind, zero), pixel=np.where(data, pixel, zero),
               x=np.where(data, x, zero), y=np.where(data, y, zero),
               timer=np.where(data, zero, f(54, 0)))
    fields = dict(toa=(45, 30), uftoa_stop=(29, 26), uftoa_start=(25, 22), ftoa_rise=(21, 17),
                  ftoa_fall=(16, 12), tot=(11, 1), pileup=(0, 0)) if layout == "toatot" else \
        dict(pc=(23, 0))
    for name, (high, low) in fields.items():
        out[name] = np.where(data, f(high, low), zero)
    return out


@pytest.mark.parametrize("layout", ["toatot", "pc24"])
def test_large_arrays_are_decoded_whole(layout):
    # more words than one part of the decode, an odd count; and every pixel
    # counter index of both halves
    rng = np.random.default_rng(5)
    words = rng.integers(0, 2**64, size=3 * 2**20 + 77, dtype=np.uint64)
    every_pixel = np.arange(0x40000, dtype=np.uint64) << np.uint64(46)
    words = np.concatenate([words, every_pixel])
    records = morven.decode(words, layout)
    for name, values in vector_expected(words, layout).items():
        assert np.array_equal(records[name].astype(np.uint64), values), name
