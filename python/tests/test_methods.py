# find, censor and contains_profanity: argument rules, byte positions, Match values.
import pytest

import tarnwhisk
from conftest import custom, word

METHODS = ["find", "censor", "contains_profanity", "find_text"]


@pytest.fixture(scope="module")
def darn():
    return custom(word("darn", "mild", 1), word("heck", "slur", 3, strict=True))


def test_empty_text(darn):
    assert darn.find("") == []
    assert darn.censor("") == ""
    assert darn.contains_profanity("") is False


def test_results_and_types(darn):
    hits = darn.find("oh darn, what the heck")
    assert type(hits) is list
    assert [(m.start, m.end, m.category, m.severity) for m in hits] == [(3, 7, "mild", 1), (18, 22, "slur", 3)]
    assert all(type(m) is tarnwhisk.Match for m in hits)
    assert darn.contains_profanity("darn") is True
    assert darn.censor("oh darn") == "oh ****"


@pytest.mark.parametrize("text, start, end", [
    ("\u00e9 darn", 3, 7),              # two-byte character before the hit
    ("\u20ac\u20ac darn", 7, 11),       # three-byte characters
    ("\U0001f600 darn ok", 5, 9),       # four-byte character
    ("darn", 0, 4),
])
def test_positions_are_utf8_byte_offsets(darn, text, start, end):
    (m,) = darn.find(text)
    assert (m.start, m.end) == (start, end)
    assert text.encode()[m.start:m.end] == b"darn"


def test_normalized_positions(darn):
    (m,) = darn.find("xx DARN")
    assert (m.normalized_start, m.normalized_end) == (3, 7)
    assert m.word_id == 0


def test_repr_and_str(darn):
    (m,) = darn.find("uh, darn")
    assert repr(m) == "Match(start=4, end=8, category='mild', severity=1)"
    assert str(m) == repr(m)


def test_match_value_semantics(darn):
    a, b = darn.find("darn")[0], darn.find("darn")[0]
    assert a is not b and a == b and a == a
    fields = ["word_id", "start", "end", "normalized_start", "normalized_end", "category", "severity"]
    assert [getattr(a, f) for f in fields] == [getattr(b, f) for f in fields]
    assert len({a, b}) == 1


def test_values_are_plain_python_types(darn):
    (m,) = darn.find("darn")
    for name in ["word_id", "start", "end", "normalized_start", "normalized_end", "severity"]:
        assert type(getattr(m, name)) is int
    assert type(m.category) is str


def test_str_subclass_and_keyword_accepted(darn):
    class S(str):
        pass

    assert darn.contains_profanity(S("darn"))
    assert darn.find(text="darn")[0].start == 0
    assert darn.censor(text=S("darn")) == "****"


def test_strict_and_word_boundary(darn):
    assert darn.censor("darning heckling") == "darning ****ling"


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((), {}, TypeError, "Tarnwhisk.{}() missing 1 required positional argument: 'text'"),
    (("a", "b"), {}, TypeError, "Tarnwhisk.{}() takes 1 positional arguments but 2 were given"),
    (("a", "b", "c"), {"text": "d"}, TypeError, "Tarnwhisk.{}() takes 1 positional arguments but 3 were given"),
    ((), {"txt": "a"}, TypeError, "Tarnwhisk.{}() got an unexpected keyword argument 'txt'"),
    (("a",), {"text": "a"}, TypeError, "Tarnwhisk.{}() got multiple values for argument 'text'"),
    ((b"abc",), {}, TypeError, "argument 'text': 'bytes' object cannot be converted to 'PyString'"),
    ((None,), {}, TypeError, "argument 'text': 'NoneType' object cannot be converted to 'PyString'"),
    ((), {"text": 5}, TypeError, "argument 'text': 'int' object cannot be converted to 'PyString'"),
    (("da\ud800rn",), {}, UnicodeEncodeError, None),
])
def test_argument_errors(darn, name, args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        getattr(darn, name)(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message.format(name)


def test_unicode_encode_error_is_the_interpreters(darn):
    with pytest.raises(UnicodeEncodeError) as info:
        darn.find("\udfff")
    assert info.value.encoding == "utf-8"
    assert not str(info.value).startswith("argument")


def test_method_on_foreign_self():
    with pytest.raises(TypeError):
        tarnwhisk.Tarnwhisk.find(5, "darn")


def test_contains_agrees_with_find(darn):
    for text in ["", "darn", "darning", "heckling", "d a r n", "no hit here"]:
        assert darn.contains_profanity(text) == (len(darn.find(text)) > 0)


@pytest.mark.parametrize("text", ["fuck", "shit", "What the FUCK", "sh1t happens"])
def test_default_list_catches_common_swearing(default_filter, text):
    assert default_filter.contains_profanity(text)
    assert default_filter.censor(text) != text


@pytest.mark.parametrize("text", ["hello world", "a pleasant afternoon"])
def test_default_list_leaves_clean_text(default_filter, text):
    assert default_filter.censor(text) == text


@pytest.mark.parametrize("prefix", ["a", "\u00e9", "\U0001f600"])
@pytest.mark.parametrize("repeat", [10, 70000])  # short texts borrow their UTF-8 form, long ones copy it
def test_positions_in_short_and_long_texts(darn, prefix, repeat):
    text = prefix * repeat + " darn " + prefix
    start = len((prefix * repeat + " ").encode())
    assert [(m.start, m.end) for m in darn.find(text)] == [(start, start + 4)]
    assert darn.censor(text) == prefix * repeat + " **** " + prefix
    with pytest.raises(UnicodeEncodeError):
        darn.find(text + "\ud800")
