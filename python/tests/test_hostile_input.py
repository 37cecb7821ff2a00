# Options built to hurt: a sequence whose __len__ lies about its size, and a language
# given a hundred thousand times. Each builds the filter that the honest form builds,
# at the honest form's cost.
import subprocess
import sys
import textwrap

import pytest

import tarnwhisk
from conftest import word

T = tarnwhisk.Tarnwhisk


def lying(claimed):
    """A list subclass whose __len__ answers `claimed` (or raises it)."""

    class Lying(list):
        def __len__(self):
            if isinstance(claimed, type):
                raise claimed("no length today")
            return claimed

    return Lying


CLAIMS = [sys.maxsize, 2**62, 2**40, 10**6, 0, 1, ValueError, OverflowError]


@pytest.mark.parametrize("claimed", CLAIMS, ids=repr)
@pytest.mark.parametrize("key, value, text, censored", [
    ("languages", ["de", "en"], "damn it", "**** it"),
    ("remove_words", ["heck", "x", "y"], "darn heck", "**** heck"),
    ("allowlist", ["darning", "heckle", "z"], "darning heck", "darning ****"),
])
def test_lying_length_is_only_a_hint(claimed, key, value, text, censored):
    options = {"add_words": [word("darn"), word("heck")], key: lying(claimed)(value)}
    if key != "languages":
        options["without_bundled"] = True
    honest = {**options, key: list(value)}
    f = T(options)
    assert f.censor(text) == censored
    assert f.find(text) == T(honest).find(text)


def test_lying_length_in_add_words():
    entries = lying(sys.maxsize)(["darn", word("heck", "slur", 3)])
    f = T({"without_bundled": True, "add_words": entries})
    assert [(m.category, m.severity) for m in f.find("darn heck")] == [("strong", 2), ("slur", 3)]


def test_repeated_language_gives_the_same_filter():
    text = "what the fuck, shit, damn, mierda, merde, scheisse"
    once = T({"languages": ["en", "es"]})
    many = T({"languages": ["en", "es"] * 5000 + ["en"] * 5000})
    assert many.find(text) == once.find(text)
    assert many.censor(text) == once.censor(text)
    # Order of first appearance still decides which list's entry comes first.
    assert T({"languages": ["es", "en", "es"]}).find(text) == T({"languages": ["es", "en"]}).find(text)


def test_repeated_language_costs_what_one_costs():
    # Each repetition used to merge a whole copy of the list: 100,000 x "en" took
    # seconds and a gigabyte. Measured in a process of its own, by its peak memory.
    code = textwrap.dedent("""
        import resource, tarnwhisk
        def peak():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        tarnwhisk.Tarnwhisk({"languages": ["en"]})
        before = peak()
        f = tarnwhisk.Tarnwhisk({"languages": ["en"] * 100000})
        print(peak() - before, len(f.find("fuck")))
    """)
    resource = pytest.importorskip("resource")
    del resource
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    grown, hits = map(int, out.stdout.split())
    assert hits == 1
    assert grown < 100 * 1024 * 1024, f"peak memory grew by {grown} bytes"
