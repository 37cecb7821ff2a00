# Typed use of the module, checked by mypy against the shipped stubs.
from typing import List

import tarnwhisk
from tarnwhisk import Match, Tarnwhisk

f: Tarnwhisk = tarnwhisk.Tarnwhisk(
    {
        "languages": ["en", "es"],
        "normalization": "aggressive",
        "match_mode": "word_boundary",
        "censor_style": "first_last",
        "mask_char": "#",
        "add_words": [{"word": "darn", "category": "mild", "severity": 1, "strict": False}],
        "remove_words": ["heck"],
        "allowlist": ["darning"],
        "without_bundled": False,
    }
)
default = Tarnwhisk()
hits: List[Match] = f.find("oh darn")
spans: List[int] = [m.start + m.end + m.normalized_start + m.normalized_end + m.word_id for m in hits]
names: List[str] = [m.category.upper() for m in hits]
severities: List[int] = [m.severity for m in hits]
censored: str = f.censor("oh darn")
flag: bool = default.contains_profanity("oh darn")
