# Type information for the `tarnwhisk` extension module.
from typing import Any, Dict, List, Literal, Optional, Protocol, Sequence, Tuple, TypedDict, Union, final, overload

__all__ = ["Tarnwhisk", "Match", "ArrowColumn"]

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

@final
class Tarnwhisk:
    """Main filter. Construct once, reuse."""

    def __new__(cls, options: Optional[Options] = None) -> "Tarnwhisk": ...
    def find(self, text: str) -> List[Match]: ...
    def censor(self, text: str) -> str: ...
    def contains_profanity(self, text: str) -> bool: ...
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
