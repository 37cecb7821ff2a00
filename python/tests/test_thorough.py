# The thorough level end to end, on the built-in lists: each family of disguises it
# undoes, alone and inside a sentence, with the hit covering the whole disguised word
# (invisible characters, separators and repeated letters included), and the ordinary
# words it must leave alone.
import pytest

import tarnwhisk

_filters = {}


def thorough(lang):
    if lang not in _filters:
        _filters[lang] = tarnwhisk.Tarnwhisk({"languages": [lang], "normalization": "thorough"})
    return _filters[lang]


# (language, disguised word): each must be found, and the hit must be exactly the word.
FOUND = [
    # what basic finds, "!" after a word included
    ("en", "shit"), ("en", "Damn"), ("es", "mierda"), ("fr", "merde"),
    # invisible characters of every kind
    ("en", "fu\u00adck"), ("en", "sh\u2060it"), ("en", "f\u2062uck"), ("en", "f\u180euck"),
    ("en", "fu\u3164ck"), ("en", "sh\ufe0fit"), ("en", "f\U000e0041uck"),
    # no-break spaces separate single letters like spaces
    ("en", "f\u00a0u\u00a0c\u00a0k"), ("en", "s\u202fh\u202fi\u202ft"),
    # diacritics and case in every script
    ("en", "f\u00fcck"), ("en", "fu\u0308ck"), ("en", "f\u1e73ck"),
    ("en", "s\u0301h\u0301i\u0301t\u0301"),  # the marks of the last letter too
    ("es", "CABR\u00d3N"), ("es", "cabron"),
    ("es", "cabr\u00f3n"), ("de", "SCHEI\u00dfE"), ("de", "scheisse"),
    # look-alikes from the confusables data, and one that may be two letters
    ("en", "\u0192uck"), ("en", "\ua731hit"), ("en", "f\u0443ck"),
    ("en", "\U0001d5a2\U0001d5ab\U0001d574\U0001d5b3"),  # styled capitals: C L I T
    # leetspeak that depends on the letter or on the place
    ("en", "$hit"), ("en", "@ss"), ("en", "a$$"), ("en", "h3l1"), ("en", "dlck"),
    ("en", "$shit"), ("en", "+tits"),  # a symbol next to the letter it stands for
    ("en", "bltch"), ("en", "fvck"), ("en", "phuck"), ("en", "sh!t"),
    ("en", "twatwaphfle"), ("en", "jerkofph"), ("en", "jack@phph"),  # a double f as ph
    ("en", "m||ph"), ("en", "@$5!1ck"), ("en", "d33p+hr@@+"),        # "li", "oa" as one run
    ("es", "cu1@"),
    ("en", "@4@55"), ("en", "6@n6b@n6"),  # a letter and its codes run together
    ("en", "f4@@@@7@$$"), ("es", "m4@@r1c0n4z0"),  # a letter alone, then its code again and again
    ("de", "v@ll!d!07"), ("en", "p11l0ck"), ("en", "cunn11!n9u$"),  # "lli", "ill", "ili" as one run
    # masked letters
    ("en", "f*ck"), ("en", "sh*t"), ("en", "f**k"), ("en", "m0th3rf*ck3r"), ("en", "sh#t"),
    ("fr", "co**e"),  # a single letter after the masks
    # stretched letters, double letters included
    ("en", "fuuuuck"), ("en", "asssss"), ("en", "pisssss"), ("en", "helllll"),
    # separated single letters
    ("en", "f u c k"), ("en", "f.u.c.k"), ("en", "f-u-c-k"), ("en", "f_u_c_k"),
    ("en", "f*u*c*k"), ("en", "f..u..c..k"), ("en", "s. h. i. t"),
    ("de", "a r s c h"), ("fr", "m.e.r.d.e"), ("hi", "c h u t i y a"),
    ("de", "s c h e i \u00df e"), ("en", "d u m b b i t c h"),  # "\u00df" one letter; "b b" one run
    ("en", "$.h.i.t"), ("en", "d-!-c-k"), ("en", "5|h|1|+|$"),  # symbols standing alone
    ("en", "$$.h.i.t"),  # next to symbols only
    # phrases spelled out, their words of two letters included
    ("es", "h.i.j.o d.e p.e.r.r.a"), ("es", "m. e c. a. g. o e. n t. u m. a. d. r. e"),
    ("en", "s|o|n o|f a b|i|t|c|h"),  # "f a b" is no chain: "o|f" ended a word
    ("hi", "b\u00b7h\u00b7e\u00b7n k\u00b7e l\u00b7o\u00b7d\u00b7e"), ("hi", "t~e~r~i m~a~a k~o c~h~o~d"),
    # ligatures as their two letters, and repeated
    ("fr", "tete de noeud"), ("fr", "t*te de n\u0153ud"), ("fr", "t \u00ea t e d e n \u0153 u d"),
    ("fr", "t\u00eate de n\u0153\u0153\u0153ud"),
]


@pytest.mark.parametrize("context", ["{}", "{}!", "so he said {} and left", "¿{}?"])
@pytest.mark.parametrize("lang, disguised", FOUND)
def test_each_family_is_found_and_covered_exactly(lang, disguised, context):
    text = context.format(disguised)
    hits = thorough(lang).find_text(text)
    assert [matched for _, _, matched, _ in hits] == [disguised], text
    start = context.index("{}")
    assert hits[0][:2] == (start, start + len(disguised))


# "!" after a run of l or i: punctuation after the word, unless a letter follows.
@pytest.mark.parametrize("lang, text, found", [
    ("en", "h3l1!", ["h3l1"]), ("en", "helllll!!", ["helllll"]), ("en", "h3l1?!", ["h3l1"]),
    ("en", "PAK\U0001d408!", ["PAK\U0001d408"]), ("en", "pak!!", ["pak!"]),
    ("en", "sh!t", ["sh!t"]), ("en", "h3l!", ["h3l!"]), ("en", "hello!!", []),
])
def test_trailing_exclamation_marks_are_punctuation(lang, text, found):
    assert [m for _, _, m, _ in thorough(lang).find_text(text)] == found


@pytest.mark.parametrize("lang, text, found", [
    ("en", "the s h i t", "s h i t"),
    ("en", "I f u c k you", "f u c k you"),  # a listed phrase
    ("en", "that is shit", "shit"),
    ("en", "kill yourself", "kill yourself"),
    ("en", "\u00a1$~h~!~+!", "$~h~!~+"),  # the "\u00a1" before a chain's symbol stays apart
])
def test_words_around_separated_letters_stay_words(lang, text, found):
    assert [m for _, _, m, _ in thorough(lang).find_text(text)] == [found]


# Ordinary text that must stay clean: words are never joined, real letters are never
# merged, and spellings that look like a disguise but are words of the dictionaries.
@pytest.mark.parametrize("lang, text", [
    ("en", "s hit"), ("en", "sh it"), ("en", "as shole"), ("en", "pen is"),
    ("en", "the pen is mightier than the sword"), ("en", "as"), ("en", "that"),
    ("en", "click here"), ("en", "Shiite"), ("en", "coffee"), ("en", "puffin"),
    ("en", "offal"), ("en", "a fluffy cloud"), ("en", "a cool boat"), ("en", "hello shell"),
    ("en", "it costs $5"), ("en", "hell@example.com"), ("de", "flicken"), ("en", "darkle"),
    ("en", "dick.smith@example.org"), ("en", "write to me@mail.dick.com"),
    ("de", "volldiot"),  # two characters are no three letters
])
def test_innocent_text_is_not_flagged(lang, text):
    assert thorough(lang).find(text) == []


@pytest.mark.parametrize("text, censored", [
    ("oh f u c k!", "oh *******!"),
    ("so s\u200bh\u200bi\u200bt", "so " + "*" * 7),
    ("twatwaphfle", "*" * 11),
])
def test_censor_masks_the_whole_disguise(text, censored):
    assert thorough("en").censor(text) == censored
