# Match objects as values: equality and hashing by every field, pickling and copying
# through the private reconstructor (which checks what it is given), results that come
# back from worker processes, and the package's version and licence metadata.
import concurrent.futures
import copy
import importlib.metadata
import pickle
import re
from pathlib import Path

import pytest

import tarnwhisk
from conftest import custom, word

ROOT = Path(__file__).resolve().parents[2]
FIELDS = ["word_id", "start", "end", "normalized_start", "normalized_end", "category", "severity"]


def values(m):
    return tuple(getattr(m, name) for name in FIELDS)


@pytest.fixture(scope="module")
def hits():
    f = custom(word("darn", "mild", 1), word("heck", "slur", 3, strict=True), word("\u00e9t\u00e9", "slang", 255))
    return f.find("oh darn, what the HECKing \u00e9t\u00e9 darn")


def test_equal_fields_equal_objects(hits):
    again = custom(word("darn", "mild", 1), word("heck", "slur", 3, strict=True),
                   word("\u00e9t\u00e9", "slang", 255)).find("oh darn, what the HECKing \u00e9t\u00e9 darn")
    assert len(hits) == 4
    for a, b in zip(hits, again):
        assert a is not b
        assert a == b and not (a != b)
        assert hash(a) == hash(b)
    # The two "darn" hits differ only in their positions.
    assert hits[0] != hits[3] and hits[0].word_id == hits[3].word_id
    assert len(set(hits) | set(again)) == 4
    assert again.index(hits[2]) == 2


BASE = (7, 10, 14, 9, 13, "slur", 3)
# One field changed at a time: each must change equality, and (for these values) the hash.
VARIANTS = [
    ("word_id", (8, 10, 14, 9, 13, "slur", 3)),
    ("start", (7, 11, 14, 9, 13, "slur", 3)),
    ("end", (7, 10, 15, 9, 13, "slur", 3)),
    ("normalized_start", (7, 10, 14, 8, 13, "slur", 3)),
    ("normalized_end", (7, 10, 14, 9, 14, "slur", 3)),
    ("category", (7, 10, 14, 9, 13, "slang", 3)),
    ("severity", (7, 10, 14, 9, 13, "slur", 4)),
    ("swapped-positions", (7, 9, 14, 10, 13, "slur", 3)),
]


@pytest.mark.parametrize("fields", [v[1] for v in VARIANTS], ids=[v[0] for v in VARIANTS])
def test_every_field_takes_part(fields):
    base, other = tarnwhisk._match(*BASE), tarnwhisk._match(*fields)
    assert values(other) == fields
    assert base != other and not (base == other)
    assert hash(base) != hash(other)
    assert base == tarnwhisk._match(*BASE) and hash(base) == hash(tarnwhisk._match(*BASE))


@pytest.mark.parametrize("other", [None, 5, BASE, "Match(start=10, end=14, category='slur', severity=3)"])
def test_other_types_are_never_equal(other):
    m = tarnwhisk._match(*BASE)
    assert m != other and not (m == other)
    with pytest.raises(TypeError):
        m < m  # no order is defined


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip(hits, protocol):
    data = pickle.dumps(hits, protocol=protocol)
    back = pickle.loads(data)
    assert back == hits
    assert [values(m) for m in back] == [values(m) for m in hits]
    assert all(type(m) is tarnwhisk.Match for m in back)
    # The pickle names the reconstructor, not the class, and the class keeps its name.
    assert b"_match" in data
    assert tarnwhisk.Match.__module__ == "builtins"


@pytest.mark.parametrize("clone", [copy.copy, copy.deepcopy], ids=["copy", "deepcopy"])
def test_copies_are_equal(hits, clone):
    for m in hits:
        c = clone(m)
        assert c == m and hash(c) == hash(m) and repr(c) == repr(m)
    assert copy.deepcopy({"hits": hits})["hits"] == hits


def test_positions_beyond_32_bits_survive():
    big = 2**64 - 1
    m = tarnwhisk._match(big, big - 1, big, 2**40, 2**40 + 5, "strong", 0)
    assert values(pickle.loads(pickle.dumps(m))) == (big, big - 1, big, 2**40, 2**40 + 5, "strong", 0)


def _find_in_worker(text):
    return custom(word("darn", "mild", 1)).find_text(text)


def test_results_come_back_from_worker_processes():
    texts = ["darn", "oh darn it", "clean", "\u00e9 darn darn"]
    with concurrent.futures.ProcessPoolExecutor(max_workers=1) as pool:
        remote = list(pool.map(_find_in_worker, texts))
    assert remote == [_find_in_worker(t) for t in texts]
    assert [len(r) for r in remote] == [1, 1, 0, 2]


# (args, exception, message): what the reconstructor refuses; None leaves the message open.
REFUSED = [
    ((7, 10, 14, 9, 13, "slur"), TypeError,
     "tarnwhisk._match() missing 1 required positional argument: 'severity'"),
    (BASE + (1,), TypeError, "tarnwhisk._match() takes 7 positional arguments but 8 were given"),
    ((7, 10, 14, 9, 13, "Slur", 3), ValueError, "argument 'category': unknown category 'Slur'"),
    ((7, 10, 14, 9, 13, "", 3), ValueError, "argument 'category': unknown category ''"),
    ((7, 10, 14, 9, 13, 3, 3), TypeError,
     "argument 'category': 'int' object cannot be converted to 'PyString'"),
    ((7, 10, 14, 9, 13, "slur", 256), OverflowError, "argument 'severity': 256 is not in the range 0 to 255"),
    ((7, 10, 14, 9, 13, "slur", -1), OverflowError, None),
    ((7, -1, 14, 9, 13, "slur", 3), OverflowError, None),
    ((2**64, 10, 14, 9, 13, "slur", 3), OverflowError, None),
    ((7, "10", 14, 9, 13, "slur", 3), TypeError, "argument 'start': 'str' object cannot be interpreted as an integer"),
    ((7, 10.0, 14, 9, 13, "slur", 3), TypeError, None),
    ((7, 15, 14, 9, 13, "slur", 3), ValueError, "a Match span cannot end before it starts"),
    ((7, 10, 14, 9, 8, "slur", 3), ValueError, "a Match span cannot end before it starts"),
    ((7, 10, 14, 9, 13, "sl\ud800ur", 3), UnicodeEncodeError, None),
]


@pytest.mark.parametrize("args, exc, message", REFUSED)
def test_reconstructor_checks_its_input(args, exc, message):
    with pytest.raises(exc) as info:
        tarnwhisk._match(*args)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_tampered_pickle_is_refused():
    data = pickle.dumps(tarnwhisk._match(*BASE), protocol=0)
    assert b"slur" in data
    with pytest.raises(ValueError):
        pickle.loads(data.replace(b"slur", b"evil"))


def test_reconstructor_is_private():
    assert "_match" not in tarnwhisk.__all__
    assert tarnwhisk._match.__text_signature__ == (
        "($module, word_id, start, end, normalized_start, normalized_end, category, severity)")


def test_version_has_one_source():
    project = re.search(r"project\(tarnwhisk VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    if project is None:
        pytest.skip("no source tree beside the tests")
    assert tarnwhisk.__version__ == project.group(1)


def installed_metadata():
    try:
        return importlib.metadata.metadata("tarnwhisk")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("module not installed as a distribution")


def test_installed_metadata():
    meta = installed_metadata()
    assert meta["Version"] == tarnwhisk.__version__
    assert meta["License-Expression"] == "MIT"
    assert meta.get_all("License-File") == ["LICENSE"]
    assert meta["Author"] or meta["Author-email"]
    files = importlib.metadata.files("tarnwhisk")
    licence = next(f for f in files if f.name == "LICENSE")
    assert "MIT License" in licence.read_text()
