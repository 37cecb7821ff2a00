# Shared helpers of the Python test suite. The module under test is whatever
# `import tarnwhisk` finds: an installed wheel, or the build tree on PYTHONPATH.
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
