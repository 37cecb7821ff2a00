# Properties that hold for every text: agreement of the three methods, spans on
# character boundaries inside the text, ordered non-overlapping hits, and censor
# styles that keep the number of characters.
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarnwhisk
from conftest import custom, word

PIECES = ["darn", "DARN", "d4rn", "d.a.r.n", "heck", "hecking", "sh1t", "fuck", "damn", " ", ".",
          "\u00e9", "\u200b", "\uff44\uff41\uff52\uff4e", "aaa", "\u0301", "\U0001f600", "_", "x",
          "darn darn", "oh my god"]
texts = st.lists(st.one_of(st.sampled_from(PIECES), st.text(max_size=4)), max_size=12).map("".join)

WORDS = [word("darn"), word("heck", "slur", 3, True), word("oh my", "slang", 2), word("a", "mild", 0),
         word("\u00e9t\u00e9", "sexual", 9)]
FILTERS = [
    tarnwhisk.Tarnwhisk(),
    tarnwhisk.Tarnwhisk({"normalization": "aggressive", "match_mode": "substring"}),
] + [
    custom(*WORDS, normalization=level, match_mode=mode, allowlist=["hecking"])
    for level in ["none", "basic", "aggressive", "thorough"]
    for mode in ["word_boundary", "substring"]
]
KEEPS_LENGTH = ["length_preserving", "first_last", "grawlix"]

PROPERTY = settings(max_examples=150, deadline=None, database=None)


@pytest.mark.parametrize("f", FILTERS)
@given(text=texts)
@PROPERTY
def test_contains_is_find_nonempty(f, text):
    assert f.contains_profanity(text) == bool(f.find(text))


def on_boundary(data, i):
    return i == len(data) or (data[i] & 0xC0) != 0x80


@pytest.mark.parametrize("f", FILTERS)
@given(text=texts)
@PROPERTY
def test_spans_on_character_boundaries(f, text):
    data = text.encode()
    for m in f.find(text):
        assert 0 <= m.start <= m.end <= len(data)
        assert on_boundary(data, m.start) and on_boundary(data, m.end)
        assert m.normalized_start <= m.normalized_end
        data[m.start:m.end].decode()


@pytest.mark.parametrize("f", FILTERS)
@given(text=texts)
@PROPERTY
def test_hits_ordered_and_disjoint(f, text):
    hits = f.find(text)
    for a, b in zip(hits, hits[1:]):
        assert a.normalized_start < b.normalized_start
        assert a.normalized_end <= b.normalized_start


@pytest.mark.parametrize("style", KEEPS_LENGTH)
@pytest.mark.parametrize("level", ["none", "basic", "aggressive", "thorough"])
@given(text=texts)
@PROPERTY
def test_censor_keeps_character_count(style, level, text):
    f = _styled(style, level)
    assert len(f.censor(text)) == len(text)


_STYLED = {}


def _styled(style, level):
    key = (style, level)
    if key not in _STYLED:
        _STYLED[key] = tarnwhisk.Tarnwhisk(
            {"censor_style": style, "normalization": level, "mask_char": "\U0001f910",
             "add_words": WORDS})
    return _STYLED[key]
