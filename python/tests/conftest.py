# Shared helpers of the Python test suite. The module under test is whatever
# `import tarnwhisk` finds: an installed wheel, or the build tree on PYTHONPATH.
import contextlib
import threading
import time

import pytest

import tarnwhisk


def word(text, category="mild", severity=1, strict=False):
    """One add_words entry."""
    return {"word": text, "category": category, "severity": severity, "strict": strict}


def custom(*words, **options):
    """A filter over exactly `words` (strings or add_words entries), no built-in list."""
    entries = [w if isinstance(w, dict) else word(w) for w in words]
    return tarnwhisk.Tarnwhisk({"without_bundled": True, "add_words": entries, **options})


@pytest.fixture(scope="session")
def default_filter():
    return tarnwhisk.Tarnwhisk()


@contextlib.contextmanager
def ticking():
    """A thread that appends a tick to the list it yields about every millisecond while
    the block runs: a test sees from it whether other threads ran during a call."""
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    t = threading.Thread(target=tick)
    t.start()
    try:
        yield ticks
    finally:
        stop.set()
        t.join()
