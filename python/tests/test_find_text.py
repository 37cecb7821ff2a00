# find_text(): the hits of find() in str terms. The indices must slice the str the
# caller passed to exactly the matched text, whatever the width of the characters
# before and inside the hit, and the Match objects must be those of find().
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarnwhisk
from conftest import custom, word


@pytest.fixture(scope="module")
def darn():
    return custom(word("darn", "mild", 1), word("heck", "slur", 3, strict=True))


# (text, expected (start, end, matched) per hit)
CASES = [
    ("", []),
    ("no hit", []),
    ("darn", [(0, 4, "darn")]),
    ("oh darn, heck", [(3, 7, "darn"), (9, 13, "heck")]),
    ("\u00e9 darn", [(2, 6, "darn")]),                          # two-byte character first
    ("\u20ac\u20ac darn", [(3, 7, "darn")]),                    # three-byte characters
    ("\U0001f600 darn \U0001f600 heck", [(2, 6, "darn"), (9, 13, "heck")]),  # four-byte
    ("\uff44\uff41\uff52\uff4e.", [(0, 4, "\uff44\uff41\uff52\uff4e")]),     # wide letters, one index each
    ("d\u200ba\u200brn \u00e9", [(0, 6, "d\u200ba\u200brn")]),  # invisible characters inside the hit
    ("DAAARN x", [(0, 6, "DAAARN")]),
    ("\u00e9darn darn", [(6, 10, "darn")]),                     # the first is inside a word
    ("xhecky \u00e9heck", [(1, 5, "heck"), (8, 12, "heck")]),  # strict: also inside words
]


@pytest.mark.parametrize("text, expected", CASES)
def test_indices_and_matched_text(darn, text, expected):
    result = darn.find_text(text)
    assert [(s, e, m) for s, e, m, _ in result] == expected
    for start, end, matched, match in result:
        assert text[start:end] == matched
        assert text.encode()[match.start:match.end].decode() == matched
    assert [m for *_, m in result] == darn.find(text)


def test_result_types(darn):
    class S(str):
        pass

    (item,) = darn.find_text(S("\u00e9 darn"))
    assert type(item) is tuple and len(item) == 4
    assert [type(x) for x in item] == [int, int, str, tarnwhisk.Match]
    assert darn.find_text(text="darn") == darn.find_text("darn")


def test_signature_and_doc():
    method = tarnwhisk.Tarnwhisk.find_text
    assert method.__text_signature__ == "($self, text)"
    assert "text[start:end] == matched" in method.__doc__


@pytest.mark.parametrize("prefix", ["a", "\u00e9", "\u20ac", "\U0001f600"])
def test_long_texts(darn, prefix):
    # Over 64 Ki characters the UTF-8 form is the call's own copy, not the str's cache.
    text = prefix * 70000 + " darn " + prefix * 3 + " heck"
    assert [(s, e, m) for s, e, m, _ in darn.find_text(text)] == [
        (70001, 70005, "darn"), (70010, 70014, "heck")]


def test_hits_sharing_a_source_character():
    # U+FB00 (LATIN SMALL LIGATURE FF) normalises to "ff": two hits in one character.
    f = custom(word("f", strict=True))
    text = "x\ufb00y"
    result = f.find_text(text)
    assert len(result) == len(f.find(text)) >= 1
    for start, end, matched, match in result:
        assert (start, end, matched) == (1, 2, "\ufb00")


PIECES = ["darn", "DARN", "d4rn", "heck", "hecking", " ", ".", "\u00e9", "\u200b", "\u0301",
          "\U0001f600", "\uff44\uff41\uff52\uff4e", "\ufb00", "aaa", "x"]
texts = st.lists(st.one_of(st.sampled_from(PIECES), st.text(max_size=3)), max_size=10).map("".join)
FILTERS = [custom(word("darn"), word("heck", "slur", 3, True), word("ff", strict=True),
                  normalization=level, match_mode=mode)
           for level in ["none", "basic", "aggressive"] for mode in ["word_boundary", "substring"]]


@pytest.mark.parametrize("f", FILTERS)
@given(text=texts)
@settings(max_examples=150, deadline=None, database=None)
def test_agrees_with_find(f, text):
    result = f.find_text(text)
    data = text.encode()
    assert [m for *_, m in result] == f.find(text)
    for start, end, matched, match in result:
        assert 0 <= start <= end <= len(text)
        assert text[start:end] == matched == data[match.start:match.end].decode()
