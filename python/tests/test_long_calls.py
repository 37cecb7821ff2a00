# Long calls behave: other Python threads run while the core works on a long text or a
# batch, and a signal's handler runs during the call, not after it; a handler that
# raises ends the call with its exception, one that calls the filter again is answered.
import os
import signal
import threading
import time

import pytest

import tarnwhisk
from conftest import custom, ticking, word

pytestmark = pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs POSIX signals")

LINE = "the quick brown fox jumps over the lazy dog, oh darn, caf\u00e9 " * 20


@pytest.fixture(scope="module")
def f():
    return custom(word("darn"), word("heck", "strong", 2, True))


@pytest.fixture(scope="module")
def long_text(f):
    """ASCII text that takes the core about half a second (read where it lies, no copy)."""
    text = LINE.encode("ascii", "replace").decode() * 1000
    start = time.perf_counter()
    f.contains_profanity(text)
    took = time.perf_counter() - start
    return text * max(1, min(200, int(0.5 / max(took, 1e-3))))


def run_interrupted(call, delay=0.1):
    """Runs `call` on the main thread while another thread sends SIGINT after `delay`,
    with a handler that raises. Returns (whether the call was cut short, seconds from
    the signal to the exception)."""

    class Interrupted(Exception):
        pass

    sent = []

    def handler(signum, frame):
        raise Interrupted()

    def send():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    old = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(delay, send)
    cut_short = True
    try:
        try:
            timer.start()
            call()
            cut_short = False
            for _ in range(500):  # the call won the race: let the signal land here
                time.sleep(0.01)
            raise AssertionError("no signal arrived")
        except Interrupted:
            caught = time.perf_counter()
    finally:
        timer.cancel()
        signal.signal(signal.SIGINT, old)
    return cut_short, caught - sent[0]


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("method", ["censor_batch", "find_batch"])
def test_signal_handler_runs_during_a_batch(f, long_text, method, workers):
    texts = [LINE] * (len(long_text) // len(LINE))  # about a second of short texts
    batch = getattr(f, method)
    cut_short, latency = run_interrupted(lambda: batch(texts, workers=workers))
    assert cut_short
    assert latency < 0.5  # about 20 ms on an idle machine


def test_signal_handler_runs_during_a_batch_of_long_texts(f, long_text):
    cut_short, latency = run_interrupted(lambda: f.find_batch([long_text] * 2, workers=2))
    assert cut_short
    assert latency < 0.5


@pytest.mark.parametrize("method", ["find", "censor", "contains_profanity"])
def test_signal_handler_runs_during_a_long_call(f, long_text, method):
    # contains_profanity stops at the first piece with a hit: give it a clean text to read.
    text = long_text.replace("darn", "dxrn") if method == "contains_profanity" else long_text
    cut_short, latency = run_interrupted(lambda: getattr(f, method)(text))
    assert cut_short
    assert latency < 0.5


def handler_calls_filter_again(f, call):
    """Runs `call` while a timer signal every 5 ms has the handler call the filter;
    returns the call's result and how often the handler ran well before the call's end."""
    ran = []

    def handler(signum, frame):
        assert f.censor("oh darn") == "oh ****"
        assert f.censor_batch(["darn", "fine"]) == ["****", "fine"]
        ran.append(time.perf_counter())

    old = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.005, 0.005)
    try:
        result = call()
        end = time.perf_counter()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    # A handler that runs only once the call has returned runs at its end.
    return result, sum(t < end - 0.05 for t in ran)


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("method", ["censor_batch", "find_batch"])
def test_handler_may_call_the_filter_during_a_batch(f, long_text, method, workers):
    texts = [LINE, LINE.upper()] * (len(long_text) // len(LINE) // 8)
    batch = getattr(f, method)
    want = batch(texts)
    got, ran = handler_calls_filter_again(f, lambda: batch(texts, workers=workers))
    assert got == want
    assert ran > 0


# find_batch makes the Match lists of the chunks finished so far while the core goes on
# with the rest: rows of every kind, over many chunks and long enough for several rounds.
ROWS = [LINE, "", "no hit at all", "darn " * 40, "HECK heck darn", "caf\u00e9 darn", "x" * 3000]


@pytest.mark.parametrize("workers", [1, 2, -1])
def test_find_batch_made_while_the_core_works_equals_single_calls(f, long_text, workers):
    texts = ROWS * (len(long_text) // sum(map(len, ROWS)) // 2 + 1)
    want = [f.find(t) for t in texts]
    assert f.find_batch(texts, workers=workers) == want
    pa = pytest.importorskip("pyarrow")
    column = pa.array([None if i % 5 == 1 else t for i, t in enumerate(texts)])
    got = f.find_batch(column, workers=workers)
    assert got == [None if i % 5 == 1 else hits for i, hits in enumerate(want)]


def test_handler_may_call_the_filter_during_a_long_call(f, long_text):
    want = f.find(long_text)
    got, ran = handler_calls_filter_again(f, lambda: f.find(long_text))
    assert [(m.start, m.end) for m in got] == [(m.start, m.end) for m in want]
    assert ran > 0


def test_other_threads_run_during_a_long_call(f, long_text):
    with ticking() as ticks:
        time.sleep(0.01)
        before = len(ticks)
        start = time.perf_counter()
        f.find(long_text)
        took = time.perf_counter() - start
        during = len(ticks) - before
    # Holding the lock, the ticker would get one tick in; released, one every millisecond
    # or so, less what a busy machine takes.
    assert during >= min(20, took * 1000 / 10), (during, took)


def test_two_threads_on_long_texts_run_at_once(f, long_text):
    text = long_text[: len(long_text) // 2]
    spans = []
    barrier = threading.Barrier(2)

    def work():
        barrier.wait()
        start = time.perf_counter()
        f.censor(text)
        spans.append((start, time.perf_counter()))

    threads = [threading.Thread(target=work) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    (a0, a1), (b0, b1) = spans
    overlap = min(a1, b1) - max(a0, b0)
    # One after the other, they would not overlap at all.
    assert overlap > 0.5 * min(a1 - a0, b1 - b0)


def test_short_texts_near_the_threshold(f):
    for size in (16 * 1024 - 1, 16 * 1024, 16 * 1024 + 1, 64 * 1024 + 5):
        text = ("darn " * size)[:size]
        assert f.censor(text) == text.replace("darn", "****")
        assert len(f.find(text)) == text.count("darn")
