# add_words takes plain strings beside the four-key dictionaries, so that the lines
# of a word file can be passed as they are; the README shows how to read such files.
import re
from pathlib import Path

import pytest

import tarnwhisk
from conftest import word

T = tarnwhisk.Tarnwhisk
README = Path(__file__).resolve().parents[2] / "README.md"


def only(*words, **options):
    return T({"without_bundled": True, "add_words": list(words), **options})


def test_plain_string_takes_the_entry_defaults():
    (m,) = only("darn").find("oh darn")
    assert (m.category, m.severity) == ("strong", 2)
    # Not strict: a whole word under word_boundary, anywhere under substring.
    assert only("darn").find("darning") == []
    assert only("darn", match_mode="substring").censor("darning") == "****ing"


def test_plain_string_is_the_same_entry_as_its_dictionary():
    text = "darn, DARN, d4rn, darning, heck"
    plain = only("darn", "heck")
    spelled = only(word("darn", "strong", 2), word("heck", "strong", 2))
    assert plain.find(text) == spelled.find(text)
    assert plain.censor(text) == spelled.censor(text)


def test_strings_and_dictionaries_mixed():
    class S(str):
        pass

    f = only("darn", word("heck", "slur", 3, True), S("oh my god"), "\u00e9t\u00e9")
    found = {(m.category, m.severity) for m in f.find("darn xheckx oh my god \u00e9t\u00e9")}
    assert found == {("strong", 2), ("slur", 3)}
    assert len(f.find("darn xheckx oh my god \u00e9t\u00e9")) == 4
    # The same word twice, as string and as dictionary: the first one given stays.
    assert only("darn", word("darn", "mild", 1)).find("darn")[0].category == "strong"


@pytest.mark.parametrize("words, exc, message", [
    (["darn", 5], TypeError, "'int' object cannot be converted to 'PyDict'"),
    (["darn", b"heck"], TypeError, "'bytes' object cannot be converted to 'PyDict'"),
    (["darn", None], TypeError, "'NoneType' object cannot be converted to 'PyDict'"),
    # The element types are checked for the whole list before any entry is read.
    ([{"word": "x"}, "ok", 1.5], TypeError, "'float' object cannot be converted to 'PyDict'"),
    (["ok", {"word": "x"}], ValueError, "add_words entry missing 'category'"),
    (["da\ud800rn"], UnicodeEncodeError, None),
])
def test_refused_elements(words, exc, message):
    with pytest.raises(exc) as info:
        only(*words)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_empty_string_builds_but_never_matches():
    f = only("", "darn")
    assert [m.start for m in f.find("a darn")] == [2]


def readme_lines_helper():
    """The `lines` helper that README.md shows for word and allowlist files."""
    if not README.exists():
        pytest.skip("no README beside the tests")
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    source = next((b for b in blocks if "def lines(" in b), None)
    assert source is not None, "README.md shows no `lines` helper"
    namespace = {}
    exec(source.split("\nf = ")[0], namespace)  # the helper alone, not the example call after it
    return namespace["lines"]


def test_readme_word_file_helper(tmp_path):
    lines = readme_lines_helper()
    words = tmp_path / "words.txt"
    # A byte order mark, Windows line ends, comments, blank lines, a phrase, non-ASCII.
    words.write_bytes("\ufeffdarn\r\n# comment\r\n\r\n  heck  \r\noh my god\r\n\u00e9t\u00e9".encode())
    allow = tmp_path / "allow.txt"
    allow.write_text("darning\n", encoding="utf-8")
    assert lines(words) == ["darn", "heck", "oh my god", "\u00e9t\u00e9"]
    f = T({"without_bundled": True, "add_words": lines(words), "allowlist": lines(allow),
           "match_mode": "substring"})
    assert f.censor("darn darning heck oh my god \u00e9t\u00e9") == "**** darning **** ********* ***"
