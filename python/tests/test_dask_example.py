# The Dask scale-out example must give exactly what one filter gives when run serially
# over the same files, and must build one filter per partition, not one per line, however
# the partitions' lines fall into the batch calls' blocks.
import importlib.util
import json
import random
from pathlib import Path

import pytest

pytest.importorskip("dask.bag")
tarnwhisk = pytest.importorskip("tarnwhisk")

SCRIPT = Path(__file__).resolve().parents[2] / "examples" / "dask_censor.py"
pytestmark = pytest.mark.skipif(not SCRIPT.exists(), reason="example not in this tree")

# Invented words, so that the result does not depend on the built-in lists.
WORDS = ["blorp", "zlonk", "frobnik"]
OPTIONS = {"without_bundled": True,
           "add_words": [{"word": w, "category": c, "severity": 2, "strict": False}
                         for w, c in zip(WORDS, ["mild", "strong", "slang"])]}
FILLER = ["the", "cat", "sat", "on", "blorpish", "mat", "zlonked", "caf\u00e9", "\u65e5\u672c",
          "na\u00efve", "Blorp,", "(zlonk)", "FROBNIK!", "x"]


def load_example():
    spec = importlib.util.spec_from_file_location("dask_censor", SCRIPT)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture
def corpus(tmp_path):
    """Seven files with the awkward cases: CRLF endings, no final newline, an empty file,
    a Unicode line separator inside a line (which must not split it)."""
    rng = random.Random(7)
    src = tmp_path / "in"
    src.mkdir()
    paths = []
    for i in range(7):
        lines = [" ".join(rng.choice(FILLER + WORDS) for _ in range(rng.randint(0, 12)))
                 for _ in range(rng.randint(20, 60))]
        end = "\r\n" if i == 1 else "\n"
        text = end.join(lines) + ("" if i == 2 else end)
        if i == 3:
            text = "zlonk\u2028blorp and frobnik\n" + text
        if i == 4:
            text = ""
        p = src / f"part{i}.txt"
        p.write_bytes(text.encode("utf-8"))
        paths.append(str(p))
    return paths


def serial_censor(path):
    f = tarnwhisk.Tarnwhisk(OPTIONS)
    text = Path(path).read_bytes().decode("utf-8")
    return "\n".join(f.censor(line) for line in text.split("\n"))


def serial_counts(paths):
    f = tarnwhisk.Tarnwhisk(OPTIONS)
    files = {}
    for p in paths:
        text = Path(p).read_bytes().decode("utf-8")
        lines = text.split("\n")
        if lines[-1] == "":
            lines.pop()
        hits = [f.find(line) for line in lines]
        cats = {}
        for m in (m for h in hits for m in h):
            cats[m.category] = cats.get(m.category, 0) + 1
        files[Path(p).name] = {"lines": len(lines), "lines_with_hits": sum(map(bool, hits)),
                               "hits": sum(map(len, hits)), "categories": dict(sorted(cats.items()))}
    return files


@pytest.mark.parametrize("scheduler,per_partition,block,workers", [
    ("sync", 1, None, 1), ("threads", 1, None, 1), ("threads", 3, None, 1),
    ("threads", 1, 7, 2), ("sync", 3, 1, -1)])
def test_censor_equals_serial_run(corpus, tmp_path, monkeypatch, scheduler, per_partition, block, workers):
    ex = load_example()
    if block:  # blocks that end inside files and inside partitions
        monkeypatch.setattr(ex, "BLOCK", block)
    out = tmp_path / "out"
    result = ex.run(corpus, "censor", OPTIONS, str(out), scheduler, per_partition, workers)
    changed = 0
    for p in corpus:
        got = (out / Path(p).name).read_bytes().decode("utf-8")
        assert got == serial_censor(p), p
        changed += result["files"][Path(p).name]["lines_changed"]
    assert changed > 0  # the corpus really holds words to mask
    assert result["files"]["part4.txt"] == {"lines": 0, "lines_changed": 0}


@pytest.mark.parametrize("scheduler,per_partition,block,workers", [
    ("sync", 1, None, 1), ("threads", 2, None, 1), ("threads", 2, 5, 2)])
def test_count_equals_serial_run(corpus, monkeypatch, scheduler, per_partition, block, workers):
    ex = load_example()
    if block:
        monkeypatch.setattr(ex, "BLOCK", block)
    result = ex.run(corpus, "count", OPTIONS, None, scheduler, per_partition, workers)
    expected = serial_counts(corpus)
    assert result["files"] == expected
    assert result["total"]["hits"] == sum(v["hits"] for v in expected.values()) > 0


@pytest.mark.parametrize("mode", ["count", "censor"])
@pytest.mark.parametrize("per_partition,partitions", [(1, 7), (3, 3)])
def test_one_filter_per_partition(corpus, tmp_path, monkeypatch, mode, per_partition, partitions):
    ex = load_example()
    built = []
    real = ex.make_filter
    monkeypatch.setattr(ex, "make_filter", lambda options: built.append(1) or real(options))
    ex.run(corpus, mode, OPTIONS, str(tmp_path / "out"), "threads", per_partition)
    # One check of the options in the driver, then one filter per partition.
    assert len(built) == 1 + partitions


def test_command_line_with_glob(corpus, tmp_path, capsys):
    ex = load_example()
    src = Path(corpus[0]).parent
    args = [str(src / "part*.txt"), "--count", "--without-bundled", "--scheduler", "sync", "--workers", "2"]
    for w, c in zip(WORDS, ["mild", "strong", "slang"]):
        args += ["--add-word", f"{w}:{c}"]
    assert ex.main(args) == 0
    assert json.loads(capsys.readouterr().out)["files"] == serial_counts(corpus)


def test_refuses_to_overwrite_its_input(corpus):
    ex = load_example()
    before = Path(corpus[0]).read_bytes()
    with pytest.raises(ValueError, match="overwrite"):
        ex.run(corpus, "censor", OPTIONS, str(Path(corpus[0]).parent))
    assert Path(corpus[0]).read_bytes() == before
