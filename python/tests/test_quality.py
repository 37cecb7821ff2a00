# The detection-quality benchmark (bench/quality.py) on a slice: the words it reads from
# the table sources, what its disguise families really produce, the rule for innocent
# dictionary words, how it counts, its before/after comparison, and the whole command on
# a few words. Parts that read Debian packages skip when those are not installed.
import importlib.util
import re
import subprocess
import sys
import unicodedata
from pathlib import Path

import pytest

import tarnwhisk

ROOT = Path(__file__).resolve().parents[2]
_spec = importlib.util.spec_from_file_location("quality", ROOT / "bench" / "quality.py")
quality = importlib.util.module_from_spec(_spec)
sys.modules["quality"] = quality  # dataclasses look their module up by name
_spec.loader.exec_module(quality)


@pytest.fixture(scope="module")
def tables():
    return quality.load_tables()


@pytest.fixture(scope="module")
def words():
    return quality.builtin_words()


def test_words_read_from_the_sources_are_exactly_the_library_lists(words):
    for lang, texts in words.items():
        # Removing every word read leaves nothing: no entry was missed by the parse...
        with pytest.raises(RuntimeError, match="no words configured"):
            tarnwhisk.Tarnwhisk({"languages": [lang], "remove_words": texts})
        # ...and every word read is a real entry, found in its own lower-case form.
        flt = tarnwhisk.Tarnwhisk({"languages": [lang], "match_mode": "substring"})
        assert [t for t in texts if not flt.contains_profanity(t.lower())] == []
    assert len(words["en"]) == len({quality.ascii_lower(t) for t in words["en"]})


def strip_chars(text, chars):
    return "".join(c for c in text if c not in chars)


def unmark(text):
    return "".join(c for c in unicodedata.normalize("NFD", text) if not unicodedata.combining(c))


def same_length_subs(w, v, allowed):
    """v is w with some characters replaced, each by one that allowed(original) permits."""
    return len(v) == len(w) and v != w and all(a == b or b in allowed(a) for a, b in zip(w, v))


def collapsed(v, keep):
    return re.sub(r"(.)\1\1+", r"\1" * keep, v)


# (family, words it is checked on, variants each word gets at least, property every
# variant must have)
PROPERTIES = [
    ("case", ["shit", "fuck yourself"], 3, lambda w, v, t: v.lower() == w),
    ("width", ["shit", "fuck yourself"], 3,
     lambda w, v, t: unicodedata.normalize("NFKC", v).lower() == w and v.lower() != w),
    ("lookalike", ["shit", "scheiße", "fuck yourself"], 2,
     lambda w, v, t: same_length_subs(w, v, lambda c: t.lookalikes.get(c, []))),
    ("leet", ["shit", "bastard", "fuck yourself"], 2,
     lambda w, v, t: same_length_subs(w, v, lambda c: t.leet.get(c, []))),
    ("invisible", ["shit", "scheiße", "fuck yourself"], 2,
     lambda w, v, t: strip_chars(v, {c for g in t.invisible["basic"] for c in g}) == w),
    ("invisible_more", ["shit", "fuck yourself"], 2,
     lambda w, v, t: strip_chars(v, {c for g in t.invisible["more"] for c in g}) == w),
    # Stretching never touches a doubled letter, so collapsing runs of three gives the word.
    ("stretched", ["shit", "bollocks", "scheiße"], 3,
     lambda w, v, t: collapsed(v, 1) == w and len(v) > len(w)),
    ("doubled", ["ass", "bollocks", "pissing"], 2,
     lambda w, v, t: collapsed(v, 2) == w and len(v) > len(w)),
    ("separated", ["shit", "scheiße"], 4,
     lambda w, v, t: strip_chars(v, set(t.separators)) == w and set(v) - set(w)),
    ("masked", ["shit", "bollocks", "fuck yourself"], 3,
     lambda w, v, t: same_length_subs(w, v, lambda c: t.masks)
     and all(a[0] == b[0] and a[-1] == b[-1] for a, b in zip(w.split(), v.split()))),
    ("diacritics", ["shit", "fuck yourself"], 2, lambda w, v, t: unmark(v) == w and v != w),
    ("diacritics", ["cabrón", "scheiße"], 4,
     lambda w, v, t: quality.strip_accents(v).lower() in (quality.strip_accents(w), w)),
]


@pytest.mark.parametrize("family,sample,least,holds", PROPERTIES, ids=[p[0] for p in PROPERTIES])
def test_every_variant_is_the_disguise_its_family_claims(tables, family, sample, least, holds):
    corpus = quality.make_corpus({"en": sample}, tables, [family])
    made = {w: [v for _, word, _, v in corpus.variants if word == w] for w in sample}
    for w, variants in made.items():
        assert len(variants) >= least, f"{family} made only {variants} of {w!r}"
        for v in variants:
            assert holds(w, v, tables), f"{family}: {v!r} from {w!r}"


def test_corpus_is_the_same_on_every_run_and_families_do_not_disturb_each_other(tables, words):
    sample = {lang: texts[:4] for lang, texts in words.items()}
    everything = quality.make_corpus(sample, tables)
    assert quality.make_corpus(sample, tables).items == everything.items
    for family in ("leet", "combined", "masked"):
        alone = quality.make_corpus(sample, tables, [family])
        assert alone.variants == [v for v in everything.variants if v[2] == family]
    # Every item's recorded span is the disguised word inside the context.
    for v, _, text, start, end in everything.items:
        assert text.encode()[start:end].decode() == everything.variants[v][3]


@pytest.mark.parametrize("word,innocent", [
    ("fuck", False), ("FUCK", False), ("Fucking", False), ("fuckwit's", False),
    ("ass", False), ("assassin", True), ("Cabrón", False), ("CABRÓN", False),
    ("cabronada", True), ("fuc", True), ("piss", True), ("Scunthorpe", True),
])
def test_listed_words_and_words_beginning_with_a_long_one_are_not_innocent(word, innocent):
    kept, excluded = quality.innocent([word, word], ["fuck", "ass", "cabrón", "piss off"])
    assert (kept, excluded) == (([word], 0) if innocent else ([], 1))


def test_trap_table_covers_every_language_without_repeats(tables):
    rows = tables.traps
    assert len(rows) >= 50
    assert {lang for lang, _, _ in rows} == set(quality.LANGS)
    assert len({(lang, text) for lang, _, text in rows}) == len(rows)


def test_a_wrong_code_point_in_a_hand_written_table_fails_loudly(tmp_path, monkeypatch):
    for f in (ROOT / "bench" / "quality").glob("*.tsv"):
        (tmp_path / f.name).write_text(f.read_text(encoding="utf-8"), encoding="utf-8")
    (tmp_path / "lookalikes.tsv").write_text("a\t0431\tCYRILLIC SMALL LETTER A\n", encoding="utf-8")
    monkeypatch.setattr(quality, "DATA", tmp_path)
    with pytest.raises(SystemExit, match="U\\+0431 is CYRILLIC SMALL LETTER BE"):
        quality.load_tables()


class Hit:
    def __init__(self, start, end):
        self.start, self.end = start, end


def fake(find):
    """A stand-in module whose filters report the hits find(text) gives."""
    class Tarnwhisk:
        def __init__(self, options):
            if options.get("normalization") == "thorough":
                raise ValueError("unknown normalization level: thorough")

        def find(self, text):
            return find(text)

        def contains_profanity(self, text):
            return bool(find(text))
    return type("Fake", (), {"Tarnwhisk": Tarnwhisk})


@pytest.mark.parametrize("find,claimed,overall,all_traps", [
    (lambda t: [Hit(0, len(t.encode()))], 100.0, 100.0, True),
    (lambda t: [], 0.0, 0.0, False),
    # A hit on the first byte only: the word alone and with punctuation after it is
    # found, the word in a sentence or after "¡" is not (the hit lies before it).
    (lambda t: [Hit(0, 1)], None, None, True),
], ids=["everything", "nothing", "first byte"])
def test_recall_counts_hits_on_the_word_only(find, claimed, overall, all_traps):
    args = quality.parse_args(["--words", "2", "--no-wordlists", "--no-fortunes"])
    run = quality.run_all(args, fake(find))
    assert run["levels"] == ["none", "basic", "aggressive"]
    summary = quality.summary(run)["basic/word_boundary"]
    flagged, traps = summary["traps"]
    assert flagged == (traps if all_traps else 0) and traps >= 50
    if claimed is not None:
        assert (100 * summary["claimed"], 100 * summary["all"]) == (claimed, overall)
        return
    tally = quality.disguise_tally(run)
    for lang in quality.LANGS:
        assert tally.rate(("basic/word_boundary", "plain", lang, "alone")) == 1
        assert tally.rate(("basic/word_boundary", "plain", lang, "sentence")) < 1
    assert tally.rate(("basic/word_boundary", "template", "{}!")) == 1
    assert tally.rate(("basic/word_boundary", "template", "¡{}!")) == 0


def test_a_configuration_close_to_an_earlier_one_is_listed_as_the_difference():
    items = {"none/substring": {"a": "x", "b": "x", "c": "x", "d": "x"},
             "basic/substring": {"a": "x", "b": "x", "c": "x", "e": "y"},
             "aggressive/substring": {"a": "x", "b": "x", "c": "x", "e": "y"},
             "none/word_boundary": {"z": "z"}}
    text = "\n".join(quality.per_config(list(items), items.get, sorted, "list"))
    assert ("### list, basic sub: 4\n\nAs none sub, with these differences.\n\n"
            "Also (1):\n\ne\n\nNot (1):\n\nd") in text
    assert "### list, aggressive sub: 4\n\nAs basic sub, the same." in text
    assert "### list, none wb: 1\n\nz" in text


def test_fortune_lines_are_distinct_non_empty_lines_in_any_encoding(tmp_path):
    (tmp_path / "a").write_text("One.\n%\n  Two.  \n\n%\nOne.\n", encoding="utf-8")
    (tmp_path / "b").write_bytes("Caf\xe9 \xfcber\n%\n".encode("latin-1"))
    lines = quality.fortune_lines([str(tmp_path / "a"), str(tmp_path / "b")])
    assert lines == ["One.", "Two.", "Café über"]


@pytest.mark.parametrize("argv,message", [
    (["--families", "plain,sarcasm"], "unknown sarcasm"),
    (["--langs", "en,xx"], "unknown xx"),
    (["--compare", "a.json", "b.json", "c.json"], "OLD.json, or OLD.json NEW.json"),
])
def test_bad_arguments_are_refused_with_a_reason(capsys, argv, message):
    with pytest.raises(SystemExit):
        quality.parse_args(argv)
    assert message in capsys.readouterr().err


class Blind:
    """The module, blind to every text with a "!" in it."""

    class Tarnwhisk:
        def __init__(self, options):
            self.real = tarnwhisk.Tarnwhisk(options)

        def find(self, text):
            return [] if "!" in text else self.real.find(text)

        def contains_profanity(self, text):
            return bool(self.find(text))


def slice_args():
    return quality.parse_args(["--langs", "en,de", "--words", "6", "--families", "plain,leet",
                               "--no-wordlists", "--no-fortunes"])


def test_compare_lists_exactly_the_items_whose_result_changed():
    config = "basic/word_boundary"
    before = quality.run_all(slice_args(), tarnwhisk)
    after = quality.run_all(slice_args(), Blind)
    gained, lost = quality.diff_runs(before, after)["disguise"][config]
    assert gained == [] and ("en", "fuck", "plain", "fuck", "{}!") in lost
    assert ("en", "fuck", "plain", "fuck", "{}.") not in lost
    # Only texts with a "!" can change, and exactly the items whose bit changed are listed.
    for lang, word, family, text, template in lost:
        assert "!" in template.replace("{}", text)
    old, new = quality.found_bits(before)[config], quality.found_bits(after)[config]
    for n, *key in quality.disguise_items(after):
        assert (quality.bit(old, n) != quality.bit(new, n)) == (tuple(key) in lost)
    back = quality.diff_runs(after, before)
    assert back["disguise"][config] == (lost, [])
    assert quality.diff_runs(before, before)["disguise"][config] == ([], [])
    assert "### Disguises newly found, basic wb" in quality.changes_full(back)


def test_whole_command_on_a_slice_writes_report_saves_and_compares(tmp_path):
    cmd = [sys.executable, str(ROOT / "bench" / "quality.py"), "--words", "3", "--limit", "300",
           "--families", "plain,case,separated"]
    out, saved = str(tmp_path / "Q.md"), str(tmp_path / "a.json")
    run = subprocess.run(cmd + ["--out", out, "--save", saved],
                         capture_output=True, text=True, check=True)
    report = (tmp_path / "Q.md").read_text(encoding="utf-8")
    assert "## Summary for the README" in report and "| basic | word_boundary |" in report
    assert (tmp_path / "Q-lists.md").exists(), run.stderr
    again = subprocess.run(cmd + ["--compare", saved, saved],
                           capture_output=True, text=True, check=True)
    assert "| basic wb | +0 / −0 | +0 / −0 | +0 / −0 | +0 / −0 |" in again.stdout
    bad = subprocess.run(cmd + ["--compare", out], capture_output=True, text=True)
    assert bad.returncode != 0 and "cannot read a saved run" in bad.stderr


def test_packages_that_are_not_installed_are_reported_not_fatal(monkeypatch):
    monkeypatch.setattr(quality, "WORDLISTS", (("wnothing", "en", "/nonexistent/words"),))
    monkeypatch.setattr(quality, "FORTUNES", (("fortunes-nothing", "en"),))
    args = quality.parse_args(["--langs", "en", "--words", "2", "--families", "plain"])
    run = quality.run_all(args, tarnwhisk)
    assert run["wordlists"] == {"wnothing": {"lang": "en", "missing": True}}
    assert run["fortunes"] == {"fortunes-nothing": {"lang": "en", "missing": True}}
    report, _ = quality.render(run)
    assert "Not installed, left out: wnothing, fortunes-nothing" in report


@pytest.mark.parametrize("text,cell", [
    ("f\u200bck", "`f\\u200bck`"),            # format characters are spelt out
    ("fu\u3164ck", "`fu\\u3164ck`"),          # so is a filler that Unicode calls a letter
    ("s\U000e0041h", "`s\\U000e0041h`"),
    ("a|b", "`a\\|b`"),                       # a bar would end the table cell
    ("fück", "`fück`"),
])
def test_report_cells_show_invisible_characters(tables, text, cell):
    shown = quality.show(text, tables.invisible_chars())
    assert quality.table(["x"], [[shown]])[-1] == f"| {cell} |"


DICT = Path("/usr/share/dict/american-english-huge")
OFF = Path("/usr/share/games/fortunes/off/es/off")


@pytest.mark.skipif(not DICT.exists(), reason="wamerican-huge is not installed")
def test_dictionary_words_flagged_whole_are_flagged_inside_words_too(words):
    configs = ["basic/word_boundary", "basic/substring"]
    out = quality.run_wordlists(words, quality.Filters(tarnwhisk), configs, ["en"], limit=20000)
    lst = out["wamerican-huge"]
    assert lst["tested"] + lst["excluded"] <= lst["words"] == 20000
    assert set(quality.flagged(lst, configs[0])) <= set(quality.flagged(lst, configs[1]))
    assert lst["flagged"][configs[1]], "substring mode flags nothing in 20000 words"


@pytest.mark.skipif(not OFF.exists(), reason="fortunes-es-off is not installed")
def test_offensive_fortunes_are_read_through_rot13():
    files = quality.fortune_files("fortunes-es-off")
    assert files and all("/off/" in f for f in files)
    assert not [f for f in quality.fortune_files("fortunes-es") if "/off/" in f]
    spanish = re.compile(r"\b(que|de|la|el|no)\b", re.I)
    lines = quality.fortune_lines(files)
    assert sum(bool(spanish.search(line)) for line in lines) > len(lines) / 3


class _Hits:
    """A filter stand-in whose find() gives fixed byte spans."""

    def __init__(self, *spans):
        self.spans = spans

    def find(self, text):
        return [type("Hit", (), {"start": a, "end": b})() for a, b in self.spans]


@pytest.mark.parametrize("line,spans,want", [
    ("a long line with the word damn somewhere in its middle", [(26, 30)],
     "f:1 … the word damn somewhere…"),
    ("damn at the start of it all", [(0, 4)], "f:1 damn at the st…"),
    ("short hell", [(6, 10)], "f:1 short hell"),
    ("caf\u00e9 \u00fcber merde alors, mes amis", [(12, 17)], "f:1 caf\u00e9 \u00fcber merde alors, me…"),
])
def test_a_fortune_line_is_quoted_around_its_first_hit(line, spans, want):
    assert quality.quote(line, "f:1", _Hits(*spans)) == want


def test_fortune_lines_know_where_they_stand(tmp_path):
    (tmp_path / "a").write_text("One.\n%\nTwo.\n%\nOne.\n", encoding="utf-8")
    origins = {}
    quality.fortune_lines([str(tmp_path / "a")], origins=origins)
    assert [origins["One."].rsplit(":", 1)[1], origins["Two."].rsplit(":", 1)[1]] == ["1", "3"]
