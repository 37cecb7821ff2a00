# Tarnwhisk.stream(): one text given in chunks. Whatever the cuts, the censored
# stretches put together are censor() of the whole text and the hits are find_text()'s,
# str indices and byte offsets counted from the start of the whole text. Misuse gets a
# clear exception, threads and signal handlers never crash it, and memory stays flat.
import gc
import os
import signal
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarnwhisk
from conftest import custom, ticking, word


def streamed(f, chunks, censor=True):
    """(censored text, hits) of `chunks` through one stream of `f`."""
    s = f.stream(censor=censor)
    out, hits = [], []
    for chunk in chunks:
        text, found = s.feed(chunk)
        out.append(text)
        hits += found
    text, found = s.finish()
    out.append(text)
    hits += found
    return "".join(out), hits


def cut(text, points):
    points = sorted({p % (len(text) + 1) for p in points})
    return [text[a:b] for a, b in zip([0] + points, points + [len(text)])]


WORDS = [word("darn"), word("heck", "slur", 3, True), word("oh my", "slang", 2), word("ff", strict=True),
         word("\u00e9t\u00e9", "sexual", 9)]
FILTERS = [
    tarnwhisk.Tarnwhisk(),
    tarnwhisk.Tarnwhisk({"normalization": "thorough", "languages": ["en", "es"]}),
] + [
    custom(*WORDS, normalization=level, match_mode=mode, allowlist=["hecking", "darn it all"],
           censor_style=style)
    for level in ["none", "basic", "aggressive", "thorough"]
    for mode, style in [("word_boundary", "length_preserving"), ("substring", "grawlix")]
]
FILTER_IDS = ["default", "thorough-en-es"] + [f"{level}-{mode}" for level in ["none", "basic", "aggressive", "thorough"]
                                              for mode in ["word", "substring"]]

# Pieces that put cuts where the stream must wait: inside combining sequences (e + U+0301),
# between a letter and the separators after it, inside runs, beside allowlist terms.
PIECES = ["darn", "DARN", "d4rn", "d.a.r.n", "d a r n", "f u c k", "f**k", "heck", "hecking", "darn it all",
          "shit", "sh!t", "fuck", "damn", "mierda", " ", ".", "...", "  ", "!!", "\u00e9", "e\u0301",
          "\u00e9te\u0301", "\u0301", "\u200b", "\uff44\uff41\uff52\uff4e", "\ufb00", "aaaa", "dddaaarrrnnn",
          "\U0001f600", "_", "x", "oh my", "oh  my"]
texts = st.lists(st.one_of(st.sampled_from(PIECES), st.text(max_size=3)), max_size=14).map("".join)
cuts = st.lists(st.integers(min_value=0, max_value=10_000), max_size=8)


@pytest.mark.parametrize("f", FILTERS, ids=FILTER_IDS)
@given(text=texts, points=cuts)
@settings(max_examples=120, deadline=None, database=None)
def test_any_cuts_give_censor_and_find_text(f, text, points):
    censored, hits = streamed(f, cut(text, points))
    assert censored == f.censor(text)
    assert hits == f.find_text(text)
    assert streamed(f, cut(text, points), censor=False) == ("", hits)


CASES = [
    "oh darn, heck",
    "e\u0301te\u0301 darn e\u0301t\u00e9",           # combining sequences around and inside a word
    "d a r n   it, d.a.r.n... darn!!!",
    "dddaaarrrnnn \U0001f600 \uff44\uff41\uff52\uff4e",
    "darn it all and darn",                          # an allowlist term over a hit
    "x\ufb00y hecking heck",                          # two hits in one source character
]


@pytest.mark.parametrize("f", FILTERS[2:], ids=FILTER_IDS[2:])
@pytest.mark.parametrize("text", CASES)
def test_every_single_cut_and_one_character_at_a_time(f, text):
    want = (f.censor(text), f.find_text(text))
    for at in range(len(text) + 1):
        assert streamed(f, [text[:at], text[at:]]) == want, at
    assert streamed(f, list(text)) == want
    assert streamed(f, [""] + list(text) + [""]) == want


def test_offsets_count_from_the_start_of_the_whole_text():
    f = custom("darn")
    s = f.stream()
    first, none = s.feed("\u00e9\u00e9\u00e9 " * 1000)
    assert none == [] and len(first) > 3000
    second, hits = s.feed("darn.")
    third, more = s.finish()
    assert first + second + third == "\u00e9\u00e9\u00e9 " * 1000 + "****."
    ((start, end, matched, match),) = hits + more
    assert (start, end, matched) == (4000, 4004, "darn")
    assert (match.start, match.end) == (7000, 7004)  # bytes: three two-byte characters a group


def rest(s, *chunks):
    """Feeds `chunks` to the stream `s` and finishes it: (censored text, hits (start, end, matched))."""
    out, hits = [], []
    for result in [s.feed(c) for c in chunks] + [s.finish()]:
        out.append(result[0])
        hits += [h[:3] for h in result[1]]
    return "".join(out), hits


def test_feed_after_finish_raises_value_error():
    s = custom("darn").stream()
    assert rest(s, "oh darn") == ("oh ****", [(3, 7, "darn")])
    with pytest.raises(ValueError, match="feed\\(\\) after finish\\(\\)"):
        s.feed("more")
    assert s.finish() == ("", [])  # finishing again gives nothing more


@pytest.mark.parametrize("call, message", [
    (lambda s: s.feed(b"darn"), "argument 'chunk': 'bytes' object cannot be converted to 'PyString'"),
    (lambda s: s.feed(None), "argument 'chunk': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda s: s.feed(5), "argument 'chunk': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.feed(), "missing"),
    (lambda s: s.feed("a", "b"), "takes"),
    (lambda s: s.feed(text="a"), "unexpected keyword"),
    (lambda s: s.finish(1), "takes"),
])
def test_wrong_arguments_raise_type_error(call, message):
    s = custom("darn").stream()
    with pytest.raises(TypeError, match=message):
        call(s)
    assert rest(s, "darn ") == ("**** ", [(0, 4, "darn")])


@pytest.mark.parametrize("call, error", [
    (lambda f: f.stream(censor="yes"), TypeError),
    (lambda f: f.stream(censor=1), TypeError),
    (lambda f: f.stream(True), TypeError),        # keyword only
    (lambda f: f.stream(bad=True), TypeError),
    (lambda f: tarnwhisk.Tarnwhisk.stream(object()), TypeError),
])
def test_wrong_stream_arguments(call, error):
    with pytest.raises(error):
        call(custom("darn"))


def test_surrogate_chunk_raises_and_the_stream_goes_on():
    f = custom("darn")
    s = f.stream()
    first = s.feed("oh ")[0]
    with pytest.raises(UnicodeEncodeError):
        s.feed("\ud800")
    assert streamed(f, []) == ("", [])
    censored, hits = rest(s, "darn")
    assert first + censored == "oh ****"
    assert hits == [(3, 7, "darn")]


def test_stream_keeps_its_filter_alive():
    f = custom("darn")
    s = f.stream()
    del f
    gc.collect()
    assert rest(s, "oh darn") == ("oh ****", [(3, 7, "darn")])


def test_many_streams_on_one_filter_interleaved():
    f = custom("darn", "heck")
    texts = ["darn it " * 50, "what the heck. " * 40, "nothing here " * 30]
    streams = [f.stream() for _ in texts]
    outs = [[] for _ in texts]
    for k in range(0, max(map(len, texts)), 7):
        for i, s in enumerate(streams):
            outs[i].append(s.feed(texts[i][k:k + 7])[0])
    for i, s in enumerate(streams):
        outs[i].append(s.finish()[0])
        assert "".join(outs[i]) == f.censor(texts[i])


@pytest.mark.parametrize("size", [100, 40_000])  # held lock, released lock
def test_two_threads_feeding_one_stream(size):
    f = custom("darn")
    chunk = ("darn " * (size // 5 + 1))[:size - size % 5]
    rounds = 30
    s = f.stream()
    outs, errors = [], []
    barrier = threading.Barrier(2)

    def work():
        try:
            barrier.wait()
            for _ in range(rounds):
                text, hits = s.feed(chunk)
                outs.append((text, len(hits)))
        except Exception as e:  # noqa: BLE001 - any exception fails the test
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    text, hits = s.finish()
    outs.append((text, len(hits)))
    # Every chunk is the same, so in any order the whole is the same text.
    whole = chunk * (2 * rounds)
    assert "".join(t for t, _ in outs) == f.censor(whole)
    assert sum(n for _, n in outs) == len(f.find(whole))


LONG_LINE = "the quick brown fox jumps over the lazy dog, oh darn, cafe " * 20


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs POSIX signals")
def test_signal_handler_during_a_long_feed():
    f = custom("darn")
    chunk = LONG_LINE * 20000  # about 24 MB: many slices
    s = f.stream(censor=False)
    seen = []

    def handler(signum, frame):
        # The handler runs during the call; using the same stream there is refused.
        try:
            s.feed("x")
        except RuntimeError as e:
            seen.append(str(e))
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.02)
    try:
        with pytest.raises(KeyboardInterrupt):
            s.feed(chunk)
            for _ in range(500):  # the feed won the race: let the signal land here
                time.sleep(0.01)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    if seen:
        assert "already in a call on this thread" in seen[0]
        # Cut short inside the chunk: the stream says so rather than go on wrongly.
        with pytest.raises(RuntimeError, match="interrupted"):
            s.feed("darn")
        with pytest.raises(RuntimeError, match="interrupted"):
            s.finish()


def test_other_threads_run_during_a_long_feed():
    f = custom("darn")
    chunk = LONG_LINE * 5000
    with ticking() as ticks:
        s = f.stream()
        before = len(ticks)
        for _ in range(4):
            s.feed(chunk)
        during = len(ticks) - before
    assert during > 0


def rss():
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's quarantine keeps freed memory")
@pytest.mark.parametrize("prefix", ["", "\u00e9"], ids=["ascii", "two-byte"])
def test_memory_stays_flat_over_128_megabytes(prefix):
    f = tarnwhisk.Tarnwhisk({"normalization": "thorough"})
    line = prefix + "the quick brown fox said damn, what the fuck is this shit. "
    chunk = (line * (65536 // len(line) + 1))[:65536]
    total = 128 * 1024 * 1024
    count = total // len(chunk.encode())
    s = f.stream()
    samples = []
    hits = 0
    for i in range(count):
        _, found = s.feed(chunk)
        hits += len(found)
        if i == count // 8 or i == count - 1:
            gc.collect()
            samples.append(rss())
    hits += len(s.finish()[1])
    assert hits > count  # hits in every chunk
    # From 16 MB fed to 128 MB fed the resident set must not grow with the text.
    assert samples[1] - samples[0] < 8 * 1024 * 1024, samples
