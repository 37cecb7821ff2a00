# Type information for the `tarnwhisk` extension module.
from typing import Callable, List, Literal, Optional, Sequence, Tuple, TypedDict, Union, final

__all__ = ["Tarnwhisk", "Match"]
__version__: str

_Category = Literal["mild", "strong", "sexual", "slur", "slang"]
_Language = Literal["en", "es", "hi", "fr", "de"]
# The constructor also takes other spellings ("Aggressive", "word-boundary",
# "FullMask", ...); the stubs name the canonical ones.
_Normalization = Literal["none", "basic", "aggressive"]
_MatchMode = Literal["word_boundary", "substring"]
_CensorStyle = Literal["length_preserving", "first_last", "full_mask", "grawlix"]

class WordSpec(TypedDict):
    """One entry of the "add_words" option (a plain string is the word alone)."""

    word: str
    category: _Category
    severity: int  # 0 to 255
    strict: bool

class Options(TypedDict, total=False):
    """The options dictionary of Tarnwhisk(); every key is optional."""

    without_bundled: bool
    languages: Sequence[_Language]
    normalization: _Normalization
    match_mode: _MatchMode
    censor_style: _CensorStyle
    mask_char: str
    # A plain string is an entry of category "strong", severity 2, not strict.
    add_words: Sequence[Union[str, WordSpec]]
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
    # A value: equal when all seven fields are.
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __reduce__(self) -> Tuple[Callable[..., "Match"], Tuple[int, int, int, int, int, _Category, int]]: ...

@final
class Tarnwhisk:
    """Main filter. Construct once, reuse."""

    def __new__(cls, options: Optional[Options] = None) -> "Tarnwhisk": ...
    def find(self, text: str) -> List[Match]: ...
    def find_text(self, text: str) -> List[Tuple[int, int, str, Match]]:
        """The hits of find() as (start, end, matched, match): str indices, text[start:end] == matched."""
    def censor(self, text: str) -> str: ...
    def contains_profanity(self, text: str) -> bool: ...
