# The module object and the four classes: names, documentation and the restrictions
# that keep them immutable.
import subprocess
import sys
import weakref

import pytest

import tarnwhisk
from conftest import custom

DOC_LINES = [
    "Main filter. Construct once, reuse.",
    "",
    "Options (keyword-only, all optional):",
    "  languages:        list[str]   e.g. ['en', 'es']",
    "  normalization:    str         'none' | 'basic' | 'aggressive' | 'thorough'",
    "  match_mode:       str         'word_boundary' | 'substring'",
    "  censor_style:     str         'length_preserving' | 'first_last' | 'full_mask' | 'grawlix'",
    "  mask_char:        str         single character",
    "  add_words:        list[dict]  [{'word': ..., 'category': ..., 'severity': int, 'strict': bool}]",
    "  remove_words:     list[str]",
    "  allowlist:        list[str]",
    "  without_bundled:  bool",
]


def test_module_attributes():
    assert tarnwhisk.__doc__ == ""
    assert tarnwhisk.__all__ == ["Tarnwhisk", "Match", "ArrowColumn", "TextStream"]
    public = {name for name in vars(tarnwhisk) if not name.startswith("__")}
    # _match: the pickles' private reconstructor
    assert public == {"Tarnwhisk", "Match", "ArrowColumn", "TextStream", "_match"}
    assert type(tarnwhisk.__version__) is str


@pytest.mark.parametrize("cls, name", [(tarnwhisk.Tarnwhisk, "Tarnwhisk"), (tarnwhisk.Match, "Match"),
                                       (tarnwhisk.ArrowColumn, "ArrowColumn"),
                                       (tarnwhisk.TextStream, "TextStream")])
def test_class_names(cls, name):
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__bases__ == (object,)


def test_class_documentation():
    assert tarnwhisk.Tarnwhisk.__doc__ == "\n".join(DOC_LINES)
    assert tarnwhisk.Tarnwhisk.__text_signature__ == "(options=None)"
    assert tarnwhisk.Match.__doc__ == "Result of `find()` \u2014 one entry per profanity hit."
    assert tarnwhisk.Match.__text_signature__ is None
    assert tarnwhisk.TextStream.__doc__.startswith("Result of `Tarnwhisk.stream()`: one text given in chunks.")
    assert tarnwhisk.TextStream.__text_signature__ is None


@pytest.mark.parametrize("name, signature", [
    ("find", "($self, text)"),
    ("censor", "($self, text)"),
    ("contains_profanity", "($self, text)"),
    ("find_batch", "($self, texts, *, workers=1)"),
    ("censor_batch", "($self, texts, *, workers=1)"),
    ("contains_profanity_batch", "($self, texts, *, workers=1)"),
])
def test_method_signatures(name, signature):
    method = getattr(tarnwhisk.Tarnwhisk, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


@pytest.mark.parametrize("cls, name, signature, doc", [
    (tarnwhisk.Tarnwhisk, "stream", "($self, *, censor=True)", "A TextStream through this filter"),
    (tarnwhisk.Tarnwhisk, "word", "($self, word_id)", "The listed word that a Match's word_id names"),
    (tarnwhisk.TextStream, "feed", "($self, chunk)", "The next piece of the text"),
    (tarnwhisk.TextStream, "finish", "($self)", "The text has ended"),
])
def test_stream_method_signatures(cls, name, signature, doc):
    method = getattr(cls, name)
    assert method.__text_signature__ == signature
    assert method.__doc__.startswith(doc)


@pytest.mark.parametrize("name", ["word_id", "start", "end", "normalized_start", "normalized_end",
                                  "category", "severity"])
def test_match_descriptors_have_empty_doc(name):
    assert getattr(tarnwhisk.Match, name).__doc__ == ""


@pytest.mark.parametrize("cls", [tarnwhisk.Match, tarnwhisk.ArrowColumn, tarnwhisk.TextStream])
def test_results_have_no_constructor(cls):
    for args in [(), (1, 2), ({},)]:
        with pytest.raises(TypeError) as info:
            cls(*args)
        assert str(info.value) == f"No constructor defined for {cls.__name__}"


@pytest.mark.parametrize("base", [tarnwhisk.Tarnwhisk, tarnwhisk.Match, tarnwhisk.ArrowColumn,
                                  tarnwhisk.TextStream])
def test_no_subclassing(base):
    with pytest.raises(TypeError):
        type("Derived", (base,), {})


def test_instances_are_immutable_and_not_weakly_referable():
    f = custom("darn")
    m = f.find("darn")[0]
    s = f.stream()
    for obj, attrs in [(f, ["x", "find"]), (m, ["x", "start", "category", "word_id"]), (s, ["x", "feed"])]:
        for attr in attrs:
            with pytest.raises(AttributeError):
                setattr(obj, attr, 1)
        with pytest.raises(TypeError):
            weakref.ref(obj)
        assert not hasattr(obj, "__dict__")


def test_second_initialisation_raises_import_error():
    code = (
        "import sys, importlib, tarnwhisk\n"
        "del sys.modules['tarnwhisk']\n"
        "try:\n"
        "    importlib.import_module('tarnwhisk')\n"
        "except ImportError as e:\n"
        "    print('ImportError', e)\n"
        "f = tarnwhisk.Tarnwhisk({'without_bundled': True, 'add_words': [{'word': 'darn',"
        " 'category': 'mild', 'severity': 1, 'strict': False}]})\n"
        "print(f.censor('darn'))\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    lines = out.stdout.splitlines()
    assert lines[0].startswith("ImportError")
    assert lines[1] == "****"  # the first module keeps working


@pytest.mark.parametrize("make", [
    lambda: object.__new__(tarnwhisk.Tarnwhisk),
    lambda: object.__new__(tarnwhisk.Match),
    lambda: tarnwhisk.Tarnwhisk.__new__(tarnwhisk.Match),
    lambda: __import__("copy").copy(custom("darn")),
    lambda: object.__new__(tarnwhisk.ArrowColumn),
    lambda: tarnwhisk.Tarnwhisk.__new__(tarnwhisk.ArrowColumn),
    lambda: object.__new__(tarnwhisk.TextStream),
    lambda: tarnwhisk.Tarnwhisk.__new__(tarnwhisk.TextStream),
    lambda: __import__("copy").copy(custom("darn").stream()),
    lambda: __import__("pickle").dumps(custom("darn").stream()),
], ids=["object-new-filter", "object-new-match", "new-wrong-type", "copy-filter",
        "object-new-column", "new-wrong-type-column", "object-new-stream", "new-wrong-type-stream",
        "copy-stream", "pickle-stream"])
def test_no_uninitialised_or_copied_instances(make):
    # An instance made around the constructor would hold no filter or fields to release.
    with pytest.raises(TypeError):
        make()


# word(): the listed text of a hit's entry, at every level (the thorough automaton keeps
# its own pattern numbering, which must not leak into word_id).
@pytest.mark.parametrize("level", ["none", "basic", "aggressive", "thorough"])
def test_word_names_the_listed_entry(level):
    words = ["darn", "bloody", "heck", "crap"]
    f = tarnwhisk.Tarnwhisk({"without_bundled": True, "normalization": level, "add_words": [
        {"word": w, "category": "mild", "severity": 1, "strict": True} for w in words]})
    found = [(matched, f.word(m.word_id)) for _, _, matched, m in f.find_text("heck; crap - darn")]
    assert found == [("heck", "heck"), ("crap", "crap"), ("darn", "darn")]


@pytest.mark.parametrize("word_id, error", [
    (3, IndexError), (-1, IndexError), (2**64, IndexError), ("0", TypeError), (1.0, TypeError), (None, TypeError)])
def test_word_refuses_what_is_no_entry(word_id, error):
    with pytest.raises(error):
        custom("darn", "heck", "crap").word(word_id)
