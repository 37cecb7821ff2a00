# Type information for the `tarnwhisk` extension module.
from typing import Any, Dict, List, Literal, Optional, Sequence, TypedDict, Union, final

__all__ = ["Tarnwhisk", "Match"]

_Category = Literal["mild", "strong", "sexual", "slur", "slang"]

class WordSpec(TypedDict):
    """One entry of the "add_words" option."""

    word: str
    category: str
    severity: int
    strict: bool

class Options(TypedDict, total=False):
    """The options dictionary of Tarnwhisk(); every key is optional."""

    without_bundled: bool
    languages: Sequence[str]  # "en", "es", "hi", "fr", "de"
    normalization: str
    match_mode: str
    censor_style: str
    mask_char: str
    add_words: Sequence[Union[WordSpec, Dict[str, Any]]]
    remove_words: Sequence[str]
    allowlist: Sequence[str]

@final
class Match:
    """Result of `find()` — one entry per profanity hit."""

    @property
    def word_id(self) -> int: ...
    @property
    def start(self) -> int:
        """Byte offset of the hit's first byte in the UTF-8 text."""
    @property
    def end(self) -> int:
        """Byte offset just past the hit in the UTF-8 text."""
    @property
    def normalized_start(self) -> int: ...
    @property
    def normalized_end(self) -> int: ...
    @property
    def category(self) -> _Category: ...
    @property
    def severity(self) -> int: ...

@final
class Tarnwhisk:
    """Main filter. Construct once, reuse."""

    def __new__(cls, options: Optional[Options] = None) -> "Tarnwhisk": ...
    def find(self, text: str) -> List[Match]: ...
    def censor(self, text: str) -> str: ...
    def contains_profanity(self, text: str) -> bool: ...
