# Type information for the `tarnwhisk` extension module.
from typing import Any, Callable, Dict, List, Literal, Optional, Protocol, Sequence, Tuple, TypedDict, Union, final, overload

__all__ = ["Tarnwhisk", "Match", "ArrowColumn", "TextStream"]
__version__: str

_Category = Literal["mild", "strong", "sexual", "slur", "slang"]
_Language = Literal["en", "es", "hi", "fr", "de"]
# The constructor also takes other spellings ("Aggressive", "word-boundary",
# "FullMask", ...); the stubs name the canonical ones.
_Normalization = Literal["none", "basic", "aggressive", "thorough"]
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

class _ArrowArrayExporter(Protocol):
    """An Arrow array through the PyCapsule interface (pyarrow.Array and the like)."""

    def __arrow_c_array__(self, requested_schema: Optional[object] = None) -> Tuple[object, object]: ...

class _ArrowStreamExporter(Protocol):
    """An Arrow stream through the PyCapsule interface (pyarrow.ChunkedArray,
    polars.Series, pandas.Series and the like)."""

    def __arrow_c_stream__(self, requested_schema: Optional[object] = None) -> object: ...

_ArrowStrings = Union[_ArrowArrayExporter, _ArrowStreamExporter]

@final
class ArrowColumn:
    """Result of `censor_batch()` or `contains_profanity_batch()` on an Arrow column:
    strings or booleans, nulls where the input had them. Take it with `pyarrow.array()`,
    `polars.Series()` or any reader of the Arrow PyCapsule interface; nothing is copied."""

    def __arrow_c_array__(self, requested_schema: Optional[object] = None) -> Tuple[object, object]: ...
    def __arrow_c_stream__(self, requested_schema: Optional[object] = None) -> object: ...
    def __len__(self) -> int: ...

# (start, end, matched, match): str indices into the text, text[start:end] == matched,
# and the Match with its byte offsets into the text's UTF-8.
_TextHit = Tuple[int, int, str, Match]

@final
class TextStream:
    """Result of `Tarnwhisk.stream()`: one text given in chunks. The outputs of `feed()` and
    `finish()` put together are `censor()` and `find_text()` of the whole text, however it
    was cut. One call at a time: a second thread waits for the first."""

    def feed(self, chunk: str) -> Tuple[str, List[_TextHit]]:
        """The next piece of the text: the stretch of the censored text that became final
        ("" when the stream does not censor) and the hits that did, counted from the start
        of the whole text. ValueError after finish()."""
    def finish(self) -> Tuple[str, List[_TextHit]]:
        """The text has ended: everything still waiting. Again: ("", [])."""

@final
class Tarnwhisk:
    """Main filter. Construct once, reuse."""

    def __new__(cls, options: Optional[Options] = None) -> "Tarnwhisk": ...
    def find(self, text: str) -> List[Match]: ...
    def find_text(self, text: str) -> List[_TextHit]:
        """The hits of find() as (start, end, matched, match): str indices, text[start:end] == matched."""
    def censor(self, text: str) -> str: ...
    def contains_profanity(self, text: str) -> bool: ...
    def word(self, word_id: int) -> str:
        """The listed word that a Match's word_id names; IndexError for an id this filter
        does not have."""
    def stream(self, *, censor: bool = True) -> TextStream:
        """A stream through this filter for one text given in chunks; censor=False reports
        hits only. The stream keeps the filter alive."""
    # Batches: the same answers as the single calls, in order. `workers` is 1 (this
    # thread only), N threads, or -1 for one per core the process may run on; other than
    # 1 it starts threads for the call. An Arrow string column is read without a Python
    # object per row; its nulls give None or null.
    @overload
    def find_batch(self, texts: Sequence[str], *, workers: int = 1) -> List[List[Match]]:
        """One list of matches per text."""
    @overload
    def find_batch(self, texts: _ArrowStrings, *, workers: int = 1) -> List[Optional[List[Match]]]:
        """One list of matches per row, None for a null row."""
    @overload
    def censor_batch(self, texts: Sequence[str], *, workers: int = 1) -> List[str]:
        """The censored texts; a text without hits comes back as the same object."""
    @overload
    def censor_batch(self, texts: _ArrowStrings, *, workers: int = 1) -> ArrowColumn: ...
    @overload
    def contains_profanity_batch(self, texts: Sequence[str], *, workers: int = 1) -> List[bool]: ...
    @overload
    def contains_profanity_batch(self, texts: _ArrowStrings, *, workers: int = 1) -> ArrowColumn: ...
