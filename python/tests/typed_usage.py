# Typed use of the module, checked by mypy and pyright against the shipped stubs.
import pickle
from typing import Dict, List, Tuple

import tarnwhisk
from tarnwhisk import Match, Tarnwhisk, TextStream

f: Tarnwhisk = tarnwhisk.Tarnwhisk(
    {
        "languages": ["en", "es"],
        "normalization": "aggressive",
        "match_mode": "word_boundary",
        "censor_style": "first_last",
        "mask_char": "#",
        "add_words": [{"word": "darn", "category": "mild", "severity": 1, "strict": False}, "heck"],
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
texts: List[Tuple[int, int, str, Match]] = f.find_text("oh darn")
slices: List[str] = ["oh darn"[start:end] for start, end, _, _ in texts]
counted: Dict[Match, int] = {m: 1 for m in hits}
same: bool = hits == pickle.loads(pickle.dumps(hits))
version: str = tarnwhisk.__version__
stream: TextStream = f.stream()
quiet: TextStream = f.stream(censor=False)
piece: str
found: List[Tuple[int, int, str, Match]]
piece, found = stream.feed("oh da")
rest: Tuple[str, List[Tuple[int, int, str, Match]]] = stream.finish()
streamed: str = piece + rest[0] + "".join(matched for _, _, matched, _ in found + quiet.feed("rn")[1])
listed: List[str] = [f.word(m.word_id) for m in hits]
