"""Many Python threads on one filter, while other threads build and drop filters.

Short calls hold the interpreter lock; long calls and batches release it and run on at
once, batches on threads of their own. Threads switch between any two bytecodes (the
switch interval is set very short here), so objects of one call (match lists, Match
objects, censored strings, Arrow results, streams) live on while other calls run and
filters are freed. Streams run on the shared filter and on filters dropped while their
streams live, and pairs of threads feed one stream at once. Every answer must equal a
serial run's.

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


def streamed(f, text, step):
    """censor() and find_text() of `text` through a stream of `f`, fed `step` characters a time."""
    s = f.stream()
    out, hits = [], []
    for i in range(0, len(text), step):
        piece, found = s.feed(text[i:i + step])
        out.append(piece)
        hits += found
    piece, found = s.finish()
    return "".join(out + [piece]), hits + found


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
    stream_text = " ".join(texts)
    stream_want = (shared.censor(stream_text), shared.find_text(stream_text))
    # One stream for each pair of threads, fed the same chunk by both at once: in any
    # order the whole is the chunk repeated.
    pair_chunk = " ".join(texts[:40]) + " "
    pair_streams = [shared.stream() for _ in range((THREADS + 1) // 2)]
    pair_outputs = [[] for _ in pair_streams]

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
                if rnd % 5 == tid % 5:
                    # A stream, cut at a different step each round, beside everything else.
                    if streamed(shared, stream_text, 1 + (tid * 7 + rnd * 13) % 500) != stream_want:
                        errors.append(f"thread {tid}: a stream differs on the shared filter")
                if rnd % 4 == 1:
                    pair = tid // 2
                    piece, found = pair_streams[pair].feed(pair_chunk if rnd % 8 == 1 else pair_chunk * 40)
                    pair_outputs[pair].append((piece, len(found)))
                if tid % 2:
                    k = (tid + rnd) % len(VARIANTS)
                    f = tarnwhisk.Tarnwhisk(VARIANTS[k])
                    for i in range(rnd % 7, len(texts), 17):
                        if answers(f, [texts[i]])[0] != variant_want[k][i]:
                            errors.append(f"thread {tid}: text {i} differs on variant {k}")
                    # The stream keeps its filter alive after the last name for it is gone.
                    s = f.stream()
                    del f
                    piece, _ = s.feed(texts[rnd % len(texts)])
                    if piece + s.finish()[0] != variant_want[k][rnd % len(texts)][1]:
                        errors.append(f"thread {tid}: a stream on a dropped filter differs")
        except Exception as e:  # noqa: BLE001 - any exception is a failure of the run
            errors.append(f"thread {tid}: {e!r}")

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for pair, s in enumerate(pair_streams):
        piece, found = s.finish()
        pair_outputs[pair].append((piece, len(found)))
        fed = sum(1 if rnd % 8 == 1 else 40 for rnd in range(ROUNDS) if rnd % 4 == 1) * \
            len([t for t in range(THREADS) if t // 2 == pair])
        whole = pair_chunk * fed
        # Two threads append their pieces in the order their feeds returned, which need not
        # be the order the stream took them in, so compare what the pieces hold, not their
        # order: nothing lost, doubled or changed.
        if sorted("".join(p for p, _ in pair_outputs[pair])) != sorted(shared.censor(whole)) or \
                sum(n for _, n in pair_outputs[pair]) != len(shared.find(whole)):
            errors.append(f"threads {2 * pair}, {2 * pair + 1}: their shared stream differs")
    if errors:
        print(f"{len(errors)} failures, first: {errors[:5]}")
        return 1
    print(f"{THREADS} threads x {ROUNDS} rounds: every answer equals the serial run")
    return 0


if __name__ == "__main__":
    sys.exit(main())
