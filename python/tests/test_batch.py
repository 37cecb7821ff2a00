# find_batch, censor_batch and contains_profanity_batch over sequences of str: the same
# answers as the single calls, in order, whatever the number of workers; errors that name
# the element at fault; threads that are gone when the call returns.
import os
import random
import sys

import pytest

import tarnwhisk
from conftest import custom, word

WORDS = [word("darn", "mild", 1), word("heck", "slur", 3, strict=True), word("\u00e9t\u00e9", "slang", 2)]
FILTERS = {
    "default": lambda: tarnwhisk.Tarnwhisk(),
    "custom grawlix": lambda: custom(*WORDS, censor_style="grawlix", mask_char="\u2588"),
    "aggressive allowlist": lambda: custom(*WORDS, normalization="aggressive", allowlist=["darning"]),
}
WORKERS = [1, 2, 3, -1]


def make_texts(count, seed=3):
    rng = random.Random(seed)
    pieces = ["darn", "D4RN", "h e c k", "heckle", "darning", "caf\u00e9", "\u00e9t\u00e9", "shit", "the",
              "\U0001F600", "f\u200bu\u200bc\u200bk", "", "\u65e5\u672c", "fuuuuck", "Scunthorpe"]
    texts = []
    for i in range(count):
        n = 3000 if i % 97 == 5 else rng.randrange(12)  # a few long texts among chat lines
        texts.append(" ".join(rng.choice(pieces) for _ in range(n)))
    return texts


TEXTS = make_texts(600)


def fields(matches):
    return [(m.word_id, m.start, m.end, m.normalized_start, m.normalized_end, m.category, m.severity)
            for m in matches]


@pytest.fixture(scope="module", params=sorted(FILTERS))
def any_filter(request):
    return FILTERS[request.param]()


@pytest.mark.parametrize("workers", WORKERS)
def test_batches_equal_single_calls(any_filter, workers):
    f = any_filter
    found = f.find_batch(TEXTS, workers=workers)
    censored = f.censor_batch(TEXTS, workers=workers)
    any_hit = f.contains_profanity_batch(TEXTS, workers=workers)
    assert type(found) is list and type(censored) is list and type(any_hit) is list
    assert [fields(h) for h in found] == [fields(f.find(t)) for t in TEXTS]
    assert censored == [f.censor(t) for t in TEXTS]
    assert any_hit == [f.contains_profanity(t) for t in TEXTS]
    assert all(type(b) is bool for b in any_hit)
    assert sum(any_hit) > len(TEXTS) // 4  # the texts really hold words


def test_unchanged_texts_come_back_as_the_same_objects(default_filter):
    texts = ["all clean here", "what the fuck", "caf\u00e9 au lait", ""]
    out = default_filter.censor_batch(texts)
    assert out[0] is texts[0] and out[2] is texts[2] and out[3] is texts[3]
    assert out[1] == default_filter.censor(texts[1]) != texts[1]


@pytest.mark.parametrize("texts", [[], (), ("darn", "x"), ["darn"] * 3])
def test_sequences_of_every_kind(texts):
    f = custom("darn")
    assert f.censor_batch(texts) == [f.censor(t) for t in texts]
    assert f.contains_profanity_batch(texts=texts, workers=2) == [f.contains_profanity(t) for t in texts]


def test_str_subclasses_and_sequence_types():
    class S(str):
        pass

    class Seq:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError(i)
            return ["darn", S("oh darn")][i]

    f = custom("darn")
    assert f.censor_batch(Seq()) == ["****", "oh ****"]


ELEMENT_ERRORS = [
    (["ok", None, "darn"], "argument 'texts': element 1: 'NoneType' object cannot be converted to 'PyString'"),
    (["ok", "x", b"darn"], "argument 'texts': element 2: 'bytes' object cannot be converted to 'PyString'"),
    ([3], "argument 'texts': element 0: 'int' object cannot be converted to 'PyString'"),
    ("darn", "argument 'texts': Can't extract `str` to `Vec`"),
    ({"darn"}, "argument 'texts': 'set' object cannot be converted to 'Sequence'"),
    ((t for t in ["darn"]), "argument 'texts': 'generator' object cannot be converted to 'Sequence'"),
    (None, "argument 'texts': 'NoneType' object cannot be converted to 'Sequence'"),
]


@pytest.mark.parametrize("method", ["find_batch", "censor_batch", "contains_profanity_batch"])
@pytest.mark.parametrize("texts, message", ELEMENT_ERRORS)
def test_bad_texts_raise_type_error_naming_the_element(method, texts, message):
    with pytest.raises(TypeError) as info:
        getattr(custom("darn"), method)(texts, workers=2)
    assert str(info.value) == message


def test_lone_surrogate_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        custom("darn").censor_batch(["fine", "caf\u00e9 \ud800"])


@pytest.mark.parametrize("workers, error", [
    (0, ValueError), (-2, ValueError), (-(2 ** 70), ValueError), (2 ** 70, ValueError),
    (1.0, TypeError), ("2", TypeError), (None, TypeError),
])
def test_invalid_workers(workers, error):
    with pytest.raises(error) as info:
        custom("darn").find_batch(["darn"], workers=workers)
    if error is ValueError:
        assert "workers must be a number of threads (1 or more) or -1" in str(info.value)
    else:
        assert str(info.value).startswith("argument 'workers': ")


@pytest.mark.parametrize("call, message", [
    (lambda f: f.find_batch(["a"], 2), "Tarnwhisk.find_batch() takes 1 positional arguments but 2 were given"),
    (lambda f: f.censor_batch(), "Tarnwhisk.censor_batch() missing 1 required positional argument: 'texts'"),
    (lambda f: f.contains_profanity_batch(["a"], threads=2),
     "Tarnwhisk.contains_profanity_batch() got an unexpected keyword argument 'threads'"),
    (lambda f: f.find_batch(["a"], texts=["b"]), "Tarnwhisk.find_batch() got multiple values for argument 'texts'"),
])
def test_argument_binding(call, message):
    with pytest.raises(TypeError) as info:
        call(custom("darn"))
    assert str(info.value) == message


def test_many_workers_on_few_texts():
    f = custom("darn")
    assert f.censor_batch(["darn", "x"], workers=64) == ["****", "x"]


def os_threads():
    return len(os.listdir("/proc/self/task"))


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
@pytest.mark.parametrize("workers", [2, 4, -1])
def test_threads_are_joined_before_the_call_returns(workers):
    f = custom(*WORDS)
    before = os_threads()
    f.censor_batch(TEXTS * 3, workers=workers)
    assert os_threads() == before


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_fork_after_a_threaded_batch():
    f = custom(*WORDS)
    want = f.censor_batch(TEXTS, workers=2)
    pid = os.fork()
    if pid == 0:  # the child: its own threads for its own batch
        ok = f.censor_batch(TEXTS, workers=2) == want
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0


def test_no_utf8_copy_left_in_the_texts():
    # A str that was asked for its UTF-8 form keeps it, and shows it in its size.
    f = custom(*WORDS)
    texts = ["caf\u00e9 darn " * k for k in (1, 10, 5000, 20000)] + ["\u65e5\u672c darn" * 100]
    sizes = [sys.getsizeof(t) for t in texts]
    for t in texts:
        f.find(t)
        f.censor(t)
        f.contains_profanity(t)
    f.find_batch(texts, workers=2)
    f.censor_batch(texts)
    f.contains_profanity_batch(texts)
    assert [sys.getsizeof(t) for t in texts] == sizes
    t = texts[0]
    t.encode()  # the interpreter's own encoder keeps nothing either; only its C API caches
    assert sys.getsizeof(t) == sizes[0]


TYPED_BATCHES = """
from typing import List, Optional
import tarnwhisk
f = tarnwhisk.Tarnwhisk()
found: List[List[tarnwhisk.Match]] = f.find_batch(["x"], workers=-1)
censored: List[str] = f.censor_batch(("x",))
flags: List[bool] = f.contains_profanity_batch(["x"], workers=2)
"""


MISTYPED_BATCHES = """
import tarnwhisk
f = tarnwhisk.Tarnwhisk()
x: list[str] = f.contains_profanity_batch(['x'])
f.censor_batch(['x'], 2)
f.find_batch([b'x'])
"""


def test_stubs_type_the_batch_methods(tmp_path):
    pytest.importorskip("mypy")
    from test_typing import mypy

    (tmp_path / "good").mkdir()
    (tmp_path / "bad").mkdir()
    result = mypy(tmp_path / "good", TYPED_BATCHES)
    assert result.returncode == 0, result.stdout + result.stderr
    result = mypy(tmp_path / "bad", MISTYPED_BATCHES)
    errors = {(ln.split(":")[1], ln.rsplit("[", 1)[-1].rstrip("]")) for ln in result.stdout.splitlines()
              if ": error:" in ln}
    assert errors == {("4", "assignment"), ("5", "call-overload"), ("6", "list-item")}, result.stdout
