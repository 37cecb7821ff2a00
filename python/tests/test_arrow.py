# Arrow string columns in ("u", "U", "vu"; sliced, chunked, with nulls) from pyarrow,
# polars and pandas; ArrowColumn results out, taken by pyarrow and polars without a copy
# and released correctly whoever drops them last; malformed columns refused.
import ctypes
import gc

import pytest

import tarnwhisk
from conftest import custom, word

pa = pytest.importorskip("pyarrow")

ROWS = ["clean text", None, "oh darn it", "caf\u00e9 darn \U0001F600", "", "x" * 40 + " darn", "short",
        "d4rn", None, "\u65e5\u672c\u8a9e\u306e\u6587\u7ae0 darn"]
TYPES = [pa.string(), pa.large_string(), pa.string_view()]
OUT_FORMAT = {pa.string(): pa.string(), pa.large_string(): pa.large_string(), pa.string_view(): pa.string_view()}


@pytest.fixture(scope="module")
def f():
    return custom(word("darn"), word("heck", "strong", 2, strict=True), censor_style="first_last",
                  mask_char="\u2588")


def expected(f, rows):
    return ([None if r is None else f.censor(r) for r in rows],
            [None if r is None else f.contains_profanity(r) for r in rows])


def columns(arrow_type):
    """The same rows as the producers hand them over: whole, sliced, chunked."""
    base = pa.array(ROWS, type=arrow_type)
    return {
        "whole": (base, ROWS),
        "sliced": (base.slice(2, 6), ROWS[2:8]),
        "chunked": (pa.chunked_array([base, base.slice(3)], type=arrow_type), ROWS + ROWS[3:]),
        "empty": (pa.array([], type=arrow_type), []),
        "no nulls": (pa.array(ROWS[2:8], type=arrow_type), ROWS[2:8]),
        "all null": (pa.array([None, None], type=arrow_type), [None, None]),
    }


@pytest.mark.parametrize("arrow_type", TYPES, ids=str)
@pytest.mark.parametrize("case", ["whole", "sliced", "chunked", "empty", "no nulls", "all null"])
@pytest.mark.parametrize("workers", [1, 2])
def test_pyarrow_columns(f, arrow_type, case, workers):
    column, rows = columns(arrow_type)[case]
    censored, any_hit = expected(f, rows)
    out = f.censor_batch(column, workers=workers)
    assert type(out) is tarnwhisk.ArrowColumn and len(out) == len(rows)
    got = pa.array(out)
    assert got.type == OUT_FORMAT[arrow_type]
    assert got.to_pylist() == censored
    got.validate(full=True)
    flags = pa.array(f.contains_profanity_batch(column, workers=workers))
    assert flags.type == pa.bool_() and flags.to_pylist() == any_hit
    found = f.find_batch(column, workers=workers)
    assert type(found) is list
    assert [None if m is None else [(x.start, x.end) for x in m] for m in found] == \
           [None if r is None else [(x.start, x.end) for x in f.find(r)] for r in rows]


def test_many_rows_many_chunks_of_work(f):
    rows = [None if i % 13 == 0 else ("darn " if i % 3 == 0 else "fine ") * (i % 50) for i in range(30000)]
    censored, any_hit = expected(f, rows)
    for arrow_type in TYPES:
        column = pa.array(rows, type=arrow_type)
        for workers in (1, 2, -1):
            assert pa.array(f.censor_batch(column, workers=workers)).to_pylist() == censored
            assert pa.array(f.contains_profanity_batch(column, workers=workers)).to_pylist() == any_hit


def test_repr_and_stream_export(f):
    out = f.censor_batch(pa.array(ROWS))
    assert repr(out) == "ArrowColumn(type='string', length=10, null_count=2)"
    assert repr(f.contains_profanity_batch(pa.array(["darn"], type=pa.string_view()))) == \
        "ArrowColumn(type='bool', length=1, null_count=0)"


    class StreamOnly:
        def __init__(self, column):
            self.column = column

        def __arrow_c_stream__(self, requested_schema=None):
            return self.column.__arrow_c_stream__(requested_schema)

    chunked = pa.chunked_array(StreamOnly(out))
    assert chunked.num_chunks == 1 and chunked.to_pylist() == expected(f, ROWS)[0]
    # Our own stream read back by our own reader: censoring censored text changes nothing.
    again = f.censor_batch(StreamOnly(out))
    assert pa.array(again).to_pylist() == expected(f, ROWS)[0]
    capsule = out.__arrow_c_stream__()
    assert type(capsule).__name__ == "PyCapsule"
    del capsule  # never consumed: its destructor releases the stream


def test_exports_share_our_buffers(f):
    out = f.censor_batch(pa.array(ROWS))
    a, b = pa.array(out), pa.array(out)
    # Both imports point at the same memory: nothing was copied on the way.
    assert [x.address for x in a.buffers() if x] == [x.address for x in b.buffers() if x]
    assert a.buffers()[2].address % 64 == 0


def test_results_outlive_the_column_object_and_the_input(f):
    source = pa.array(ROWS)
    out = f.censor_batch(source)
    imported = pa.array(out)
    sliced = imported.slice(2, 3)
    del out, source
    gc.collect()
    assert sliced.to_pylist() == expected(f, ROWS)[0][2:5]
    del imported, sliced
    gc.collect()


def test_unconsumed_capsules_are_released(f):
    out = f.censor_batch(pa.array(ROWS))
    for _ in range(1000):
        schema, array = out.__arrow_c_array__()
        del schema, array
    assert out.__arrow_c_array__(requested_schema=None)[0] is not None


def test_polars_and_pandas(f):
    pl = pytest.importorskip("polars")
    series = pl.Series(ROWS)
    censored, any_hit = expected(f, ROWS)
    assert pl.Series(f.censor_batch(series, workers=2)).to_list() == censored
    assert pl.Series(f.contains_profanity_batch(series)).to_list() == any_hit
    assert pl.Series(f.censor_batch(series.slice(2, 5))).to_list() == censored[2:7]
    pd = pytest.importorskip("pandas")
    frame = pd.Series(ROWS, dtype="string[pyarrow]")
    if not hasattr(frame, "__arrow_c_stream__"):
        pytest.skip("this pandas exports no Arrow stream")
    assert pa.array(f.censor_batch(frame)).to_pylist() == censored


@pytest.mark.parametrize("values, arrow_type, message", [
    ([1, 2], pa.int64(), "format 'l'"),
    ([b"darn"], pa.binary(), "format 'z'"),
    (["darn", "darn"], pa.dictionary(pa.int32(), pa.string()), "dictionary-encoded"),
])
def test_other_columns_raise_type_error(f, values, arrow_type, message):
    column = pa.array(values, type=arrow_type) if not pa.types.is_dictionary(arrow_type) else \
        pa.array(values).dictionary_encode()
    with pytest.raises(TypeError, match=message) as info:
        f.censor_batch(column)
    assert str(info.value).startswith("argument 'texts': an Arrow column of strings is needed")


class RawColumn:
    """A producer made by hand (ctypes), for columns that no library would export: it
    counts how often the consumer releases what it took."""

    released = []

    def __init__(self, fmt, length, buffers, offset=0, null_count=0):
        self.keep = [b if not isinstance(b, (bytes, bytearray)) else ctypes.create_string_buffer(bytes(b), len(b))
                     for b in buffers]
        pointers = (ctypes.c_void_p * len(buffers))(
            *[None if b is None else ctypes.cast(b, ctypes.c_void_p) for b in self.keep])
        self.pointers = pointers
        self.fmt = fmt.encode()
        self.length, self.offset, self.null_count = length, offset, null_count

    def __arrow_c_array__(self, requested_schema=None):
        schema = _Schema(self.fmt, b"", None, 2, 0, None, None, ctypes.cast(_release_schema, ctypes.c_void_p), None)
        array = _Array(self.length, self.null_count, self.offset, len(self.pointers), 0,
                       ctypes.cast(self.pointers, ctypes.c_void_p), None, None,
                       ctypes.cast(_release_array, ctypes.c_void_p), None)
        self.structs = (schema, array)  # the capsules point into these
        return (_capsule(schema, b"arrow_schema"), _capsule(array, b"arrow_array"))



class _Schema(ctypes.Structure):
    _fields_ = [("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
                ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64), ("children", ctypes.c_void_p),
                ("dictionary", ctypes.c_void_p), ("release", ctypes.c_void_p), ("private_data", ctypes.c_void_p)]


class _Array(ctypes.Structure):
    _fields_ = [("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
                ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64), ("buffers", ctypes.c_void_p),
                ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p), ("release", ctypes.c_void_p),
                ("private_data", ctypes.c_void_p)]


@ctypes.CFUNCTYPE(None, ctypes.POINTER(_Schema))
def _release_schema(p):
    RawColumn.released.append("schema")
    p.contents.release = None


@ctypes.CFUNCTYPE(None, ctypes.POINTER(_Array))
def _release_array(p):
    RawColumn.released.append("array")
    p.contents.release = None


def _capsule(struct, name):
    new = ctypes.pythonapi.PyCapsule_New
    new.restype, new.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    return new(ctypes.addressof(struct), name, None)


def i32(*values):
    return (ctypes.c_int32 * len(values))(*values)


def view(length, data=b"", index=0, offset=0):
    v = length.to_bytes(4, "little", signed=True)
    if length <= 12:
        return v + data.ljust(12, b"\0")
    return v + data[:4] + index.to_bytes(4, "little", signed=True) + offset.to_bytes(4, "little", signed=True)


def i64(*values):
    return (ctypes.c_int64 * len(values))(*values)


MALFORMED = [
    ("offsets decrease", RawColumn("u", 3, [None, i32(0, 4, 2, 6), b"darndarn"])),
    ("negative offset", RawColumn("u", 1, [None, i32(-4, 0), b"darn"])),
    ("offsets decrease", RawColumn("U", 2, [None, i64(0, 8, 3), b"darndarn"])),
    ("buffers missing or of the wrong number", RawColumn("u", 1, [None, i32(0, 4)])),
    ("buffers missing or of the wrong number", RawColumn("u", 1, [None, None, b"darn"])),
    ("negative length", RawColumn("vu", 1, [None, view(-1), i64()])),
    ("view into a missing buffer", RawColumn("vu", 1, [None, view(20, b"darn", index=1), b"darn" * 5, i64(20)])),
    ("view past the end of its buffer",
     RawColumn("vu", 1, [None, view(20, b"darn", offset=4), b"darn" * 5, i64(20)])),
    ("view past the end of its buffer",
     RawColumn("vu", 1, [None, view(20, b"darn", offset=-8), b"darn" * 5, i64(20)])),
]


@pytest.mark.parametrize("message, column", MALFORMED, ids=[m for m, _ in MALFORMED])
def test_malformed_columns_are_refused(f, message, column):
    for call in (f.censor_batch, f.contains_profanity_batch, f.find_batch):
        RawColumn.released.clear()
        with pytest.raises(ValueError, match=message):
            call(column)
        assert sorted(RawColumn.released) == ["array", "schema"]  # taken, and released once


def test_hand_made_columns_with_offsets_nulls_and_views(f):
    valid = bytes([0b1011])  # rows 0, 1, 3 (of the offset-shifted rows) hold values
    cases = [
        (RawColumn("u", 3, [None, i32(0, 4, 9, 13, 17), b"darnxdarnheckdarn"], offset=1), ["xdarn", "heck", "darn"]),
        (RawColumn("u", 4, [valid, i32(0, 4, 9, 13, 17), b"darnxdarndarndarn"], null_count=1),
         ["darn", "xdarn", None, "darn"]),
        (RawColumn("vu", 2, [None, view(4, b"darn") + view(15, b"oh d", 0, 3), b"xx oh darn darn ok!", i64(19)]),
         ["darn", "oh darn darn ok"]),
    ]
    for column, rows in cases:
        RawColumn.released.clear()
        assert pa.array(f.censor_batch(column)).to_pylist() == expected(f, rows)[0]
        assert sorted(RawColumn.released) == ["array", "schema"]


class Exporter:
    """Hands over a capsule made by another column, or a wrong object."""

    def __init__(self, result):
        self.result = result

    def __arrow_c_array__(self, requested_schema=None):
        return self.result


def test_wrong_exports(f):
    with pytest.raises(TypeError, match="tuple of two capsules"):
        f.censor_batch(Exporter(("not", "capsules", "three")))
    good = pa.array(["darn"])
    schema, array = good.__arrow_c_array__()
    with pytest.raises(ValueError):
        f.censor_batch(Exporter((array, schema)))  # capsules swapped: their names are wrong
    schema, array = good.__arrow_c_array__()
    assert pa.array(f.censor_batch(Exporter((schema, array)))).to_pylist() == ["d\u2588\u2588n"]
    with pytest.raises(ValueError, match="already consumed"):
        f.censor_batch(Exporter((schema, array)))  # the same capsules twice


def test_producer_errors_propagate(f):
    class Failing:
        def __arrow_c_stream__(self, requested_schema=None):
            raise RuntimeError("no stream today")

    with pytest.raises(RuntimeError, match="no stream today"):
        f.censor_batch(Failing())
