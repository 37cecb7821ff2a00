# The constructor's options: which values are refused, with which exception and
# message, in which order the keys are judged, and what the accepted values do.
import pytest

import tarnwhisk
from conftest import custom, word

T = tarnwhisk.Tarnwhisk
DARN = word("darn")
LANGS = "(expected one of: en, es, hi, fr, de)"
NO_WORDS = "no words configured; enable a language feature or call add_words"


class Outer:
    class Inner:
        pass


def only(**options):
    """Options over a tiny custom list, so that a refusal is not a missing-words error."""
    return {"without_bundled": True, "add_words": [DARN], **options}


def entry(**overrides):
    return only(add_words=[{**DARN, **overrides}])


def missing(key):
    e = dict(DARN)
    del e[key]
    return only(add_words=[e])


# (id, positional args, keyword args, exception type, exact message)
ERRORS = [
    # argument binding
    ("two-positional", ({}, {}), {}, TypeError,
     "Tarnwhisk.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    ("options-as-keywords", (), {"languages": ["en"]}, TypeError,
     "Tarnwhisk.__new__() got an unexpected keyword argument 'languages'"),
    ("options-twice", ({},), {"options": {}}, TypeError,
     "Tarnwhisk.__new__() got multiple values for argument 'options'"),
    ("options-list", ([],), {}, TypeError,
     "argument 'options': 'list' object cannot be converted to 'PyDict'"),
    ("options-str-keyword", (), {"options": "x"}, TypeError,
     "argument 'options': 'str' object cannot be converted to 'PyDict'"),
    ("options-nested-class", (Outer.Inner(),), {}, TypeError,
     "argument 'options': 'Outer.Inner' object cannot be converted to 'PyDict'"),
    # without_bundled
    ("bundled-int", ({"without_bundled": 1},), {}, TypeError,
     "'int' object cannot be converted to 'PyBool'"),
    ("bundled-none", ({"without_bundled": None},), {}, TypeError,
     "'NoneType' object cannot be converted to 'PyBool'"),
    ("no-words", ({"without_bundled": True},), {}, RuntimeError, NO_WORDS),
    ("no-words-languages-ignored", ({"without_bundled": True, "languages": ["es"]},), {},
     RuntimeError, NO_WORDS),
    ("everything-removed", (only(remove_words=["DARN"]),), {}, RuntimeError, NO_WORDS),
    # languages
    ("language-upper", ({"languages": ["EN"]},), {}, ValueError, f"unknown language code: EN {LANGS}"),
    ("language-blank", ({"languages": ["en "]},), {}, ValueError, f"unknown language code: en  {LANGS}"),
    ("language-long", ({"languages": ["en", "eng"]},), {}, ValueError,
     f"unknown language code: eng {LANGS}"),
    ("language-str", ({"languages": "en"},), {}, TypeError, "Can't extract `str` to `Vec`"),
    ("language-set", ({"languages": {"en"}},), {}, TypeError,
     "'set' object cannot be converted to 'Sequence'"),
    ("language-dict", ({"languages": {"en": 1}},), {}, TypeError,
     "'dict' object cannot be converted to 'Sequence'"),
    ("language-iterator", ({"languages": iter(["en"])},), {}, TypeError,
     "'list_iterator' object cannot be converted to 'Sequence'"),
    ("language-generator", ({"languages": (c for c in ["en"])},), {}, TypeError,
     "'generator' object cannot be converted to 'Sequence'"),
    ("language-element-before-code", ({"languages": ["xx", 5]},), {}, TypeError,
     "'int' object cannot be converted to 'PyString'"),
    ("language-none", ({"languages": None},), {}, TypeError,
     "'NoneType' object cannot be converted to 'Sequence'"),
    ("language-surrogate", ({"languages": ["\ud800"]},), {}, UnicodeEncodeError, None),
    # the three parsed strings
    ("normalization-unknown", ({"normalization": "AGGR"},), {}, ValueError,
     "unknown normalization level: aggr"),
    ("normalization-full-lowercase", ({"normalization": "BAS\u0130C"},), {}, ValueError,
     "unknown normalization level: basi\u0307c"),
    ("normalization-int", ({"normalization": 1},), {}, TypeError,
     "'int' object cannot be converted to 'PyString'"),
    ("normalization-blank", ({"normalization": " basic"},), {}, ValueError,
     "unknown normalization level:  basic"),
    ("mode-hyphen-folded", ({"match_mode": "Sub-String"},), {}, ValueError,
     "unknown match mode: sub_string"),
    ("mode-space", ({"match_mode": "word boundary"},), {}, ValueError,
     "unknown match mode: word boundary"),
    ("mode-bytes", ({"match_mode": b"substring"},), {}, TypeError,
     "'bytes' object cannot be converted to 'PyString'"),
    ("style-unknown", ({"censor_style": "Stars"},), {}, ValueError, "unknown censor style: stars"),
    ("style-space", ({"censor_style": "Full Mask"},), {}, ValueError,
     "unknown censor style: full mask"),
    ("style-nul", ({"censor_style": "a\0b"},), {}, ValueError, "unknown censor style: a\0b"),
    # mask_char
    ("mask-empty", ({"mask_char": ""},), {}, ValueError, "mask_char must be a non-empty string"),
    ("mask-two", ({"mask_char": "ab"},), {}, ValueError, "mask_char must be a single character"),
    ("mask-combining", ({"mask_char": "e\u0301"},), {}, ValueError,
     "mask_char must be a single character"),
    ("mask-none", ({"mask_char": None},), {}, TypeError,
     "'NoneType' object cannot be converted to 'PyString'"),
    ("mask-surrogate", ({"mask_char": "\udc00"},), {}, UnicodeEncodeError, None),
    # add_words: the list, then each entry key by key, the category last
    ("words-str", ({"add_words": "darn"},), {}, TypeError, "Can't extract `str` to `Vec`"),
    ("words-dict", ({"add_words": DARN},), {}, TypeError,
     "'dict' object cannot be converted to 'Sequence'"),
    ("words-element", ({"add_words": [DARN, ["darn"]]},), {}, TypeError,
     "'list' object cannot be converted to 'PyDict'"),
    ("words-whole-list-first", ({"add_words": [{"word": 1}, 5]},), {}, TypeError,
     "'int' object cannot be converted to 'PyDict'"),
    ("missing-word", (missing("word"),), {}, ValueError, "add_words entry missing 'word'"),
    ("missing-category", (missing("category"),), {}, ValueError, "add_words entry missing 'category'"),
    ("missing-severity", (missing("severity"),), {}, ValueError, "add_words entry missing 'severity'"),
    ("missing-strict", (missing("strict"),), {}, ValueError, "add_words entry missing 'strict'"),
    ("missing-strict-before-category",
     (only(add_words=[{"word": "x", "category": "Nasty", "severity": 2}]),), {}, ValueError,
     "add_words entry missing 'strict'"),
    ("category-unknown", (entry(category="Nasty"),), {}, ValueError, "unknown category: nasty"),
    ("category-empty", (entry(category=""),), {}, ValueError, "unknown category: "),
    ("category-longer", (entry(category="Strongly"),), {}, ValueError, "unknown category: strongly"),
    ("word-int-before-missing", (only(add_words=[{"word": 1}]),), {}, TypeError,
     "'int' object cannot be converted to 'PyString'"),
    ("category-int", (entry(category=0),), {}, TypeError,
     "'int' object cannot be converted to 'PyString'"),
    ("severity-str", (entry(severity="1"),), {}, TypeError,
     "'str' object cannot be interpreted as an integer"),
    ("severity-float", (entry(severity=1.0),), {}, TypeError,
     "'float' object cannot be interpreted as an integer"),
    ("severity-256", (entry(severity=256),), {}, OverflowError,
     "out of range integral type conversion attempted"),
    ("severity-negative", (entry(severity=-1),), {}, OverflowError,
     "out of range integral type conversion attempted"),
    ("severity-huge", (entry(severity=2**80),), {}, OverflowError, None),
    ("strict-int", (entry(strict=0),), {}, TypeError, "'int' object cannot be converted to 'PyBool'"),
    ("word-surrogate", (entry(word="da\ud800rn"),), {}, UnicodeEncodeError, None),
    # remove_words and allowlist
    ("remove-str", (only(remove_words="darn"),), {}, TypeError, "Can't extract `str` to `Vec`"),
    ("remove-element", (only(remove_words=["a", None]),), {}, TypeError,
     "'NoneType' object cannot be converted to 'PyString'"),
    ("allow-str", (only(allowlist="darn"),), {}, TypeError, "Can't extract `str` to `Vec`"),
    ("allow-tuple-element", (only(allowlist=("a", 1.5)),), {}, TypeError,
     "'float' object cannot be converted to 'PyString'"),
    # the first bad key in processing order wins, whatever the dictionary's order
    ("order-languages-first", ({"normalization": "bad", "languages": ["xx"]},), {}, ValueError,
     f"unknown language code: xx {LANGS}"),
    ("order-style-before-mask", ({"mask_char": "", "censor_style": "bad"},), {}, ValueError,
     "unknown censor style: bad"),
    ("order-remove-before-allow", (only(allowlist=5, remove_words="y"),), {}, TypeError,
     "Can't extract `str` to `Vec`"),
    ("order-options-before-build", ({"without_bundled": True, "mask_char": ""},), {}, ValueError,
     "mask_char must be a non-empty string"),
]


@pytest.mark.parametrize("args, kwargs, exc, message", [e[1:] for e in ERRORS], ids=[e[0] for e in ERRORS])
def test_option_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        T(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_argument_prefix_only_on_type_errors():
    with pytest.raises(TypeError) as info:
        T({"normalization": []})
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("args, kwargs", [((), {}), ((None,), {}), ((), {"options": None}), (({},), {}),
                                           (({"normalisation": "none", 1: 2},), {})])
def test_default_filter_forms(args, kwargs):
    f = T(*args, **kwargs)
    assert f.censor("damn") == "****"
    assert f.contains_profanity("DAMN")


ACCEPTED = [
    {"languages": ("en", "fr")},
    {"languages": ["en", "en", "de", "es", "hi", "fr"]},
    {"languages": []},
    {"without_bundled": True, "languages": ["xx"], "add_words": [DARN]},
    {"without_bundled": False},
    {"add_words": []},
    {"add_words": [word("x", "STRONG", 0, True), word("y", "Slur", 255), word("z", "slang", True)]},
    {"remove_words": [], "allowlist": []},
]


@pytest.mark.parametrize("options", ACCEPTED, ids=[repr(o) for o in ACCEPTED])
def test_accepted_options(options):
    T(options)


def test_numpy_bool_is_a_bool():
    np = pytest.importorskip("numpy")
    f = T({"without_bundled": np.bool_(True), "add_words": [word("darn", strict=np.bool_(True))]})
    assert f.contains_profanity("xdarnx")


def test_severity_true_counts_as_one():
    f = custom(word("darn", severity=True))
    assert f.find("darn")[0].severity == 1


@pytest.mark.parametrize("category, severity", [("Mild", 0), ("STRONG", 255), ("sexual", 7),
                                                ("Slur", 3), ("slang", 4)])
def test_categories_and_severities_reported(category, severity):
    (m,) = custom(word("darn", category, severity)).find("darn")
    assert (m.category, m.severity) == (category.lower(), severity)


class Shadowing(dict):
    def __getitem__(self, key):
        return "full_mask"

    def __missing__(self, key):
        return "full_mask"

    def get(self, key, default=None):
        return "full_mask"


def test_dict_subclass_read_through_plain_contents():
    f = T(Shadowing(without_bundled=True, add_words=[DARN], mask_char="#"))
    assert f.censor("darn") == "####"


def test_str_subclass_values_accepted():
    class S(str):
        def lower(self):
            return "bogus"

    f = T({"without_bundled": True, "add_words": [word(S("darn"), S("MILD"))], "censor_style": S("First-Last")})
    assert f.censor("darn") == "d**n"


def test_options_not_kept():
    words = [word("darn")]
    allow = ["darning"]
    options = {"without_bundled": True, "add_words": words, "allowlist": allow, "match_mode": "substring"}
    f = T(options)
    words.append(word("heck"))
    words[0]["word"] = "heck"
    allow.clear()
    options["mask_char"] = "#"
    assert f.censor("darn heck darning") == "**** heck darning"


# (options, text, censored): what each accepted option does
EFFECTS = [
    ({}, "darn it", "**** it"),
    ({"mask_char": "#"}, "darn it", "#### it"),
    ({"mask_char": "\u00e9"}, "darn", "\u00e9\u00e9\u00e9\u00e9"),
    ({"censor_style": "first_last"}, "darn", "d**n"),
    ({"censor_style": "full_mask"}, "darn", "****"),
    ({"censor_style": "grawlix"}, "darn", "#@$%"),
    ({"match_mode": "substring"}, "darning", "****ing"),
    ({}, "darning", "darning"),
    ({"normalization": "none"}, "DARN d4rn", "DARN d4rn"),
    ({}, "DARN d4rn", "**** ****"),
    ({}, "d.a.r.n", "d.a.r.n"),
    ({"normalization": "aggressive"}, "d.a.r.n", "*******"),
    ({"remove_words": ["Darn"]}, "darn heck", "darn ****"),
    ({"allowlist": ["DARN IT"]}, "darn it, darn", "darn it, ****"),
    # other spellings of the same values select them too (a full mask of a 7-character
    # hit tells it from the default style)
    ({"normalization": "Aggressive"}, "d.a.r.n", "*******"),
    ({"normalization": "NONE"}, "DARN d4rn", "DARN d4rn"),
    ({"match_mode": "Word-Boundary"}, "darning darn", "darning ****"),
    ({"match_mode": "WORD_BOUNDARY"}, "darning darn", "darning ****"),
    ({"match_mode": "wordboundary"}, "darning darn", "darning ****"),
    ({"match_mode": "SUBSTRING"}, "darning", "****ing"),
    ({"censor_style": "full_mask", "normalization": "aggressive"}, "d.a.r.n", "****"),
    ({"censor_style": "Full-Mask", "normalization": "aggressive"}, "d.a.r.n", "****"),
    # KELVIN SIGN lower-cases to "k"
    ({"censor_style": "FULL_MAS\u212a", "normalization": "aggressive"}, "d.a.r.n", "****"),
    ({"censor_style": "g_r-awlix"}, "darn", "#@$%"),
    ({"mask_char": "\U0001d11e"}, "darn", "\U0001d11e" * 4),
]


@pytest.mark.parametrize("options, text, censored", EFFECTS)
def test_option_effects(options, text, censored):
    f = custom("darn", "heck", **options)
    assert f.censor(text) == censored


def test_word_ids_follow_sorted_entries():
    f = custom("zeta", "Alpha", "alpha", "beta")
    ids = {m.word_id for m in f.find("alpha beta zeta")}
    # sorted bytes: "Alpha" 0, "alpha" 1, "beta" 2, "zeta" 3; both alphas share a pattern
    assert ids == {0, 2, 3}


def test_languages_select_bundled_lists(default_filter):
    assert T({"languages": []}).contains_profanity("damn") == default_filter.contains_profanity("damn")
    assert not T({"languages": ["de"], "add_words": [DARN]}).contains_profanity("damn")
