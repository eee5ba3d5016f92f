"""What morven.decode takes: 64-bit integer words only, unsigned or signed
(by their bits), of any shape and layout in memory; anything else is refused
with a TypeError naming its type rather than converted."""

import numpy as np
import pytest

import morven

# A data packet of the bottom half (EoC 5, pixel 29) and one of the top half.
BOTTOM = 0x0287400000000000
TOP = 0x8287400000000000


@pytest.mark.parametrize("words, type_name", [
    (np.array([1.5]), "float64"),
    (np.array([float(BOTTOM)]), "float64"),
    (np.array([1], dtype=np.float32), "float32"),
    (np.array([1], dtype=np.int32), "int32"),
    (np.array([1], dtype=np.uint32), "uint32"),
    (np.array([1], dtype=np.uint16), "uint16"),
    (np.array([True]), "bool"),
    (np.array([1, 2], dtype=object), "object"),
    (np.array([1 + 2j]), "complex128"),
    (np.array(["1"]), "<U1"),
    ([1.0, 2.0], "float"),
    ([BOTTOM, 1.5], "float"),
    ([[1], [True]], "bool"),
    (["1"], "str"),
    ([None], "NoneType"),
], ids=["float", "float-of-a-word", "float32", "int32", "uint32", "uint16", "bool", "object",
        "complex", "text", "list-of-floats", "list-with-a-float", "nested-list-with-a-bool",
        "list-of-text", "list-of-none"])
@pytest.mark.parametrize("layout", ["toatot", "pc24"])
def test_other_types_are_refused_by_name(words, type_name, layout):
    with pytest.raises(TypeError, match=r"64-bit integers .* not " + type_name + "$"):
        morven.decode(words, layout)


def test_signed_words_are_taken_by_their_bits():
    unsigned = np.array([BOTTOM, TOP, 2**64 - 1, 0xE000000000000123], dtype=np.uint64)
    signed = unsigned.view(np.int64)
    assert signed[1] < 0 and signed[2] == -1
    for layout in ("toatot", "pc24"):
        assert np.array_equal(morven.decode(signed, layout), morven.decode(unsigned, layout))
    records = morven.decode(np.array([-1], dtype=np.int64))
    assert records["top"].tolist() == [True] and records["type"].tolist() == [255]
    assert records["timer"].tolist() == [2**55 - 1]


def test_lists_of_integers():
    # numpy would make floats of a list that mixes the halves
    assert morven.decode([BOTTOM, TOP])["x"].tolist() == [11, 436]
    assert morven.decode([2**63])["top"].tolist() == [True]
    assert morven.decode([np.int64(-1), np.uint64(TOP), np.int64(5)])["type"].tolist() == [255, 5, 0]
    assert morven.decode([[BOTTOM], [TOP]], "pc24")["x"].tolist() == [[11], [436]]
    assert morven.decode([]).shape == (0,)


def test_non_contiguous_and_foreign_byte_order_decode_a_copy():
    rng = np.random.default_rng(3)
    words = rng.integers(0, 2**64, size=1001, dtype=np.uint64)
    whole = morven.decode(words)
    assert np.array_equal(morven.decode(words[::3]), whole[::3])
    assert np.array_equal(morven.decode(words[::-1]), whole[::-1])
    assert np.array_equal(morven.decode(words.astype(">u8")), whole)
    assert np.array_equal(morven.decode(words.view(np.int64)[1::2]), whole[1::2])
    # 2-D: the same shape, a transposed view as well
    grid = words[:1000].reshape(20, 50)
    assert np.array_equal(morven.decode(grid.T), whole[:1000].reshape(20, 50).T)
    # the words given are left as they were
    assert np.array_equal(words, rng.__class__(np.random.PCG64(3)).integers(
        0, 2**64, size=1001, dtype=np.uint64))


def test_the_docstring_says_what_is_taken():
    doc = morven.decode.__doc__
    for word in ("numpy.uint64", "numpy.int64", "TypeError", "contiguous", "shape"):
        assert word in doc, word
