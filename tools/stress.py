"""Many Python threads on one filter, while other threads build and drop filters.

Short calls hold the interpreter lock; long calls and batches release it and run on at
once, batches on threads of their own. Threads switch between any two bytecodes (the
switch interval is set very short here), so objects of one call (match lists, Match
objects, censored strings, Arrow results) live on while other calls run and filters are
freed. Every answer must equal a serial run's.

    python tools/stress.py [THREADS] [ROUNDS]     (default 16 threads, 40 rounds)

Exits 1 on any mismatch or exception.
"""

import random
import sys
import threading

import tarnwhisk

THREADS = int(sys.argv[1]) if len(sys.argv) > 1 else 16
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 40


def make_texts(words, count, seed=20261207):
    rng = random.Random(seed)
    filler = ["the", "quick", "h\u00e9llo", "na\u00efve", "\u65e5\u672c", "\U0001F600", "class", "shell"]
    joins = [" ", ".", "\u200b", "-", ""]
    texts = []
    for _ in range(count):
        parts = []
        for _ in range(rng.randint(3, 14)):
            if rng.random() < 0.35:
                w = rng.choice(words)
                style = rng.randrange(4)
                if style == 0:
                    w = w.upper()
                elif style == 1:
                    w = rng.choice(joins).join(w)
                elif style == 2:
                    w = w.replace("i", "1").replace("e", "3")
                parts.append(w)
            else:
                parts.append(rng.choice(filler))
        texts.append(" ".join(parts))
    return texts


VARIANTS = [
    {"normalization": "aggressive", "censor_style": "grawlix"},
    {"match_mode": "substring", "mask_char": "\u2588", "languages": ["en", "fr"]},
    {"normalization": "none", "censor_style": "first_last", "allowlist": ["class"]},
    {"languages": ["es", "de", "hi"], "censor_style": "full_mask"},
]


def answers(f, texts):
    return [([(m.start, m.end, m.normalized_start, m.normalized_end, m.word_id, m.category, m.severity)
              for m in f.find(t)], f.censor(t), f.contains_profanity(t)) for t in texts]


def batch_answers(f, texts, workers):
    found = f.find_batch(texts, workers=workers)
    return [([(m.start, m.end, m.normalized_start, m.normalized_end, m.word_id, m.category, m.severity)
              for m in hits], c, a) for hits, c, a in
            zip(found, f.censor_batch(texts, workers=workers), f.contains_profanity_batch(texts, workers=workers))]


def main():
    sys.setswitchinterval(1e-6)
    try:
        import pyarrow as pa
    except ImportError:
        pa = None
    words = ["damn", "shit", "fuck", "bastard", "crap", "merde", "scheisse", "mierda"]
    shared = tarnwhisk.Tarnwhisk({"normalization": "basic", "allowlist": ["scunthorpe"],
                                  "languages": ["en", "fr", "de", "es"]})
    texts = make_texts(words, 120)
    want = answers(shared, texts)
    assert sum(len(a[0]) for a in want) > len(texts) // 2, "the texts should hold hits"
    variant_want = [answers(tarnwhisk.Tarnwhisk(v), texts) for v in VARIANTS]
    long_text = " ".join(texts) * 20
    long_want = shared.censor(long_text)

    errors = []
    start = threading.Barrier(THREADS)

    def worker(tid):
        try:
            start.wait()
            for rnd in range(ROUNDS):
                order = list(range(len(texts)))
                random.Random(tid * 1000 + rnd).shuffle(order)
                for i in order[:30]:
                    got = answers(shared, [texts[i]])[0]
                    if got != want[i]:
                        errors.append(f"thread {tid}: text {i} differs on the shared filter")
                # A batch (on threads of its own for some) over a slice of the texts.
                lo = rnd % 40
                chosen = [texts[i] for i in order[lo:lo + 40]]
                if batch_answers(shared, chosen, 1 + tid % 3) != [want[i] for i in order[lo:lo + 40]]:
                    errors.append(f"thread {tid}: a batch differs on the shared filter")
                if pa is not None and rnd % 4 == tid % 4:
                    column = pa.array(chosen)
                    if pa.array(shared.censor_batch(column, workers=2)).to_pylist() != \
                            [want[i][1] for i in order[lo:lo + 40]]:
                        errors.append(f"thread {tid}: an Arrow batch differs on the shared filter")
                if rnd % 10 == tid % 10:
                    # A long text: the lock is released while the core works on it.
                    if shared.censor(long_text) != long_want:
                        errors.append(f"thread {tid}: the long text differs")
                if tid % 2:
                    k = (tid + rnd) % len(VARIANTS)
                    f = tarnwhisk.Tarnwhisk(VARIANTS[k])
                    for i in range(rnd % 7, len(texts), 17):
                        if answers(f, [texts[i]])[0] != variant_want[k][i]:
                            errors.append(f"thread {tid}: text {i} differs on variant {k}")
                    del f
        except Exception as e:  # noqa: BLE001 - any exception is a failure of the run
            errors.append(f"thread {tid}: {e!r}")

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        print(f"{len(errors)} failures, first: {errors[:5]}")
        return 1
    print(f"{THREADS} threads x {ROUNDS} rounds: every answer equals the serial run")
    return 0


if __name__ == "__main__":
    sys.exit(main())
