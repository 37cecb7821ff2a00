// Arrow string columns read in place from any producer of the PyCapsule interface, and
// the ArrowColumn type that hands our results to any consumer of it. Every pointer a
// producer gives is checked against what its own offsets, views and buffer sizes allow
// before a row is made of it, so a malformed column is refused, never read outside its
// buffers.
#include "arrow.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace tarnwhisk::py {

namespace {

constexpr std::size_t kAlignment = 64;

const char* layout_format(const char* format, StringLayout& layout) {
  const std::string_view f(format ? format : "");
  if (f == "u") {
    layout = StringLayout::Offsets32;
  } else if (f == "U") {
    layout = StringLayout::Offsets64;
  } else if (f == "vu") {
    layout = StringLayout::Views;
  } else {
    return nullptr;
  }
  return format;
}

// Gives a producer's struct back. The producer's release may run Python code (a
// producer written in Python, or one that drops Python objects), so an exception on its
// way out of our call is kept aside meanwhile, and one raised inside is reported as
// unraisable.
template <class T>
void release(T& p) noexcept {
  if (!p.release) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  p.release(&p);
  if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
  PyErr_Restore(type, value, traceback);
}

// Releases a schema or stream taken from a producer, on every way out.
struct OwnedSchema {
  ArrowSchema schema{};
  ~OwnedSchema() { release(schema); }
};

struct OwnedStream {
  ArrowArrayStream stream{};
  ~OwnedStream() { release(stream); }
};

// Moves the struct out of a capsule of the PyCapsule interface: the capsule's copy is
// marked released, so that its destructor leaves the producer's data to us.
template <class T>
bool take_capsule(PyObject* capsule, const char* name, T& out) {
  auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (!p) return false;
  if (!p->release) {
    PyErr_Format(PyExc_ValueError, "the Arrow %s was already consumed", name);
    return false;
  }
  out = *p;
  p->release = nullptr;
  return true;
}

bool check_schema(const ArrowSchema& schema, StringLayout& layout) {
  if (schema.dictionary || schema.n_children != 0 || !layout_format(schema.format, layout)) {
    PyErr_Format(PyExc_TypeError,
                 "an Arrow column of strings is needed (format 'u', 'U' or 'vu'), not format '%s'%s",
                 schema.format ? schema.format : "", schema.dictionary ? " (dictionary-encoded)" : "");
    return false;
  }
  return true;
}

bool malformed(const char* what, long long row) {
  PyErr_Format(PyExc_ValueError, "malformed Arrow string column: %s at row %lld", what, row);
  return false;
}

bool bit(const void* bitmap, std::int64_t i) {
  return (static_cast<const std::uint8_t*>(bitmap)[i >> 3] >> (i & 7)) & 1;
}

template <class Offset>
bool read_offsets(const ArrowArray& a, std::size_t first_row, ArrowStrings& out) {
  const auto* offsets = static_cast<const Offset*>(a.buffers[1]) + a.offset;
  const char* data = a.buffers[2] ? static_cast<const char*>(a.buffers[2]) : "";
  if (offsets[0] < 0) return malformed("negative offset", static_cast<long long>(first_row));
  for (std::int64_t i = 0; i < a.length; ++i) {
    const Offset begin = offsets[i];
    const Offset end = offsets[i + 1];
    if (end < begin) return malformed("offsets decrease", static_cast<long long>(first_row + i));
    out.texts.emplace_back(data + begin, static_cast<std::size_t>(end - begin));
  }
  return true;
}

bool read_views(const ArrowArray& a, std::size_t first_row, ArrowStrings& out) {
  // Buffers: validity, views, the data buffers, then one 64-bit size per data buffer.
  const std::int64_t data_buffers = a.n_buffers - 3;
  const auto* sizes = static_cast<const std::int64_t*>(a.buffers[a.n_buffers - 1]);
  if (data_buffers > 0 && !sizes) return malformed("no buffer sizes", static_cast<long long>(first_row));
  const auto* views = static_cast<const std::uint8_t*>(a.buffers[1]) + 16 * a.offset;
  const void* validity = a.null_count == 0 ? nullptr : a.buffers[0];
  for (std::int64_t i = 0; i < a.length; ++i) {
    const std::uint8_t* view = views + 16 * i;
    std::int32_t length;
    std::memcpy(&length, view, 4);
    if (validity && !bit(validity, a.offset + i)) {
      out.texts.emplace_back();  // a null row's view may hold anything
      continue;
    }
    if (length < 0) return malformed("negative length", static_cast<long long>(first_row + i));
    if (length <= 12) {
      out.texts.emplace_back(reinterpret_cast<const char*>(view + 4), static_cast<std::size_t>(length));
      continue;
    }
    std::int32_t index, offset;
    std::memcpy(&index, view + 8, 4);
    std::memcpy(&offset, view + 12, 4);
    if (index < 0 || index >= data_buffers || !a.buffers[2 + index])
      return malformed("view into a missing buffer", static_cast<long long>(first_row + i));
    if (offset < 0 || static_cast<std::int64_t>(offset) + length > sizes[index])
      return malformed("view past the end of its buffer", static_cast<long long>(first_row + i));
    out.texts.emplace_back(static_cast<const char*>(a.buffers[2 + index]) + offset,
                           static_cast<std::size_t>(length));
  }
  return true;
}

}  // namespace

const ArrowArray& ArrowStrings::adopt(ArrowArray array) {
  try {
    arrays_.push_back(array);
  } catch (...) {
    release(array);
    throw;
  }
  return arrays_.back();
}

ArrowStrings::~ArrowStrings() {
  for (ArrowArray& a : arrays_) release(a);
}

namespace {

// Appends the rows of one array (a whole column or one chunk of a stream), which `out`
// already owns, checking the array against its layout first.
bool read_array(const ArrowArray& a, ArrowStrings& out) {
  const std::size_t first_row = out.texts.size();
  const bool views = out.layout == StringLayout::Views;
  if (a.length < 0 || a.offset < 0 || a.n_children != 0 || (views ? a.n_buffers < 3 : a.n_buffers != 3) ||
      !a.buffers || (a.length > 0 && !a.buffers[1])) {
    return malformed("buffers missing or of the wrong number", static_cast<long long>(first_row));
  }
  if (a.length == 0) return true;
  const bool ok = views ? read_views(a, first_row, out)
                        : out.layout == StringLayout::Offsets32 ? read_offsets<std::int32_t>(a, first_row, out)
                                                                : read_offsets<std::int64_t>(a, first_row, out);
  if (!ok) return false;
  if (a.null_count != 0 && a.buffers[0]) {
    if (out.valid.empty()) out.valid.assign(first_row, 1);
    out.valid.reserve(out.texts.size());
    for (std::int64_t i = 0; i < a.length; ++i) out.valid.push_back(bit(a.buffers[0], a.offset + i));
  } else if (!out.valid.empty()) {
    out.valid.resize(out.texts.size(), 1);
  }
  // A null row is empty whatever its offsets say.
  if (!out.valid.empty()) {
    for (std::size_t i = first_row; i < out.texts.size(); ++i) {
      if (!out.valid[i]) out.texts[i] = {};
    }
  }
  return true;
}

bool import_array(PyObject* exported, ArrowStrings& out) {
  if (!PyTuple_Check(exported) || PyTuple_Size(exported) != 2) {
    PyErr_SetString(PyExc_TypeError, "__arrow_c_array__ must return a tuple of two capsules");
    return false;
  }
  OwnedSchema schema;
  if (!take_capsule(PyTuple_GetItem(exported, 0), "arrow_schema", schema.schema)) return false;
  if (!check_schema(schema.schema, out.layout)) return false;
  ArrowArray array{};
  if (!take_capsule(PyTuple_GetItem(exported, 1), "arrow_array", array)) return false;
  return read_array(out.adopt(array), out);
}

bool stream_error(ArrowArrayStream& stream, int code) {
  const char* message = stream.get_last_error ? stream.get_last_error(&stream) : nullptr;
  PyErr_Format(PyExc_RuntimeError, "the Arrow stream failed (%s): %s", std::strerror(code),
               message ? message : "no message");
  return false;
}

bool import_stream(PyObject* capsule, ArrowStrings& out) {
  OwnedStream stream;
  if (!take_capsule(capsule, "arrow_array_stream", stream.stream)) return false;
  OwnedSchema schema;
  if (const int code = stream.stream.get_schema(&stream.stream, &schema.schema)) {
    return stream_error(stream.stream, code);
  }
  if (!check_schema(schema.schema, out.layout)) return false;
  for (;;) {
    ArrowArray array{};
    if (const int code = stream.stream.get_next(&stream.stream, &array)) {
      return stream_error(stream.stream, code);
    }
    if (!array.release) return true;  // the end of the stream
    if (!read_array(out.adopt(array), out)) return false;
  }
}

}  // namespace

int import_arrow(PyObject* obj, ArrowStrings& out) {
  if (is_str(obj) || PyList_Check(obj) || PyTuple_Check(obj)) return 0;
  // A whole array when the producer offers one, else its stream of chunks.
  for (const bool stream : {false, true}) {
    Ref method(PyObject_GetAttrString(obj, stream ? "__arrow_c_stream__" : "__arrow_c_array__"));
    if (!method) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
      PyErr_Clear();
      continue;
    }
    Ref exported(PyObject_CallNoArgs(method.get()));
    if (!exported) return -1;
    const bool ok = stream ? import_stream(exported.get(), out) : import_array(exported.get(), out);
    return ok ? 1 : -1;
  }
  return 0;
}

// ---- Results ------------------------------------------------------------------------------

void ColumnBuffer::Free::operator()(std::byte* p) const noexcept {
  ::operator delete(p, std::align_val_t{kAlignment});
}

ColumnBuffer::ColumnBuffer(std::size_t bytes, Fill fill) {
  const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + kAlignment - 1) / kAlignment * kAlignment;
  data_.reset(static_cast<std::byte*>(::operator new(rounded, std::align_val_t{kAlignment})));
  const std::size_t from = fill == Fill::Zero ? 0 : bytes;
  std::memset(data_.get() + from, 0, rounded - from);
  size_ = bytes;
}

namespace {

// Our exports: the schema holds string literals only; an array holds a share of the
// column, released on whichever thread the consumer drops it.
void release_schema(ArrowSchema* schema) { schema->release = nullptr; }

void export_schema(const ColumnData& data, ArrowSchema* out) {
  *out = ArrowSchema{data.format, "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr, release_schema, nullptr};
}

using Share = std::shared_ptr<const ColumnData>;

void release_array(ArrowArray* array) {
  delete static_cast<Share*>(array->private_data);
  array->release = nullptr;
}

void export_array(const Share& data, ArrowArray* out) {
  auto* share = new Share(data);
  *out = ArrowArray{data->length,
                    data->null_count,
                    0,
                    static_cast<std::int64_t>(data->buffers.size()),
                    0,
                    const_cast<const void**>(data->buffers.data()),
                    nullptr,
                    nullptr,
                    release_array,
                    share};
}

// A stream of one array: the whole column.
struct StreamState {
  Share data;
  bool sent = false;
};

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  export_schema(*static_cast<StreamState*>(stream->private_data)->data, out);
  return 0;
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* state = static_cast<StreamState*>(stream->private_data);
  if (state->sent) {
    out->release = nullptr;
    return 0;
  }
  try {
    export_array(state->data, out);
  } catch (...) {
    return ENOMEM;
  }
  state->sent = true;
  return 0;
}

const char* stream_last_error(ArrowArrayStream*) { return nullptr; }

void release_stream(ArrowArrayStream* stream) {
  delete static_cast<StreamState*>(stream->private_data);
  stream->release = nullptr;
}

// Capsule destructors: release what no consumer took, then free the struct.
template <class T>
void destroy_capsule(PyObject* capsule, const char* name) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (p) {
    if (p->release) p->release(p);
    delete p;
  } else {
    PyErr_WriteUnraisable(capsule);
  }
  PyErr_Restore(type, value, traceback);
}

void destroy_schema_capsule(PyObject* capsule) { destroy_capsule<ArrowSchema>(capsule, "arrow_schema"); }
void destroy_array_capsule(PyObject* capsule) { destroy_capsule<ArrowArray>(capsule, "arrow_array"); }
void destroy_stream_capsule(PyObject* capsule) {
  destroy_capsule<ArrowArrayStream>(capsule, "arrow_array_stream");
}

// A capsule owning `*p` (released and deleted by `destroy` unless a consumer took it).
template <class T>
PyObject* capsule(std::unique_ptr<T> p, const char* name, PyCapsule_Destructor destroy) {
  PyObject* c = PyCapsule_New(p.get(), name, destroy);
  if (c) {
    (void)p.release();
  } else if (p->release) {
    p->release(p.get());
  }
  return c;
}

// ---- The ArrowColumn type ----------------------------------------------------------------

struct ColumnObject {
  PyObject_HEAD
  alignas(Share) unsigned char storage[sizeof(Share)];
};

Share& share_of(PyObject* self) {
  return *std::launder(reinterpret_cast<Share*>(reinterpret_cast<ColumnObject*>(self)->storage));
}

PyObject* column_new(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

void column_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  share_of(self).~Share();  // exports still held by consumers keep the data alive
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

const char* const kRequestedNames[] = {"requested_schema"};
const Signature kArraySignature = {"ArrowColumn", "__arrow_c_array__", kRequestedNames, 1, 0};
const Signature kStreamSignature = {"ArrowColumn", "__arrow_c_stream__", kRequestedNames, 1, 0};

// requested_schema is a wish the interface lets a producer ignore: the column is offered
// as it is, and a consumer that wants another type casts it.
PyObject* column_arrow_c_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* requested = nullptr;
    if (!bind_arguments(kArraySignature, args, nargs, kwnames, &requested)) return nullptr;
    const Share& data = share_of(self);
    auto schema = std::make_unique<ArrowSchema>();
    export_schema(*data, schema.get());
    auto array = std::make_unique<ArrowArray>();
    export_array(data, array.get());
    Ref schema_capsule(capsule(std::move(schema), "arrow_schema", destroy_schema_capsule));
    Ref array_capsule(capsule(std::move(array), "arrow_array", destroy_array_capsule));
    if (!schema_capsule || !array_capsule) return nullptr;
    return PyTuple_Pack(2, schema_capsule.get(), array_capsule.get());
  });
}

PyObject* column_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* requested = nullptr;
    if (!bind_arguments(kStreamSignature, args, nargs, kwnames, &requested)) return nullptr;
    auto stream = std::make_unique<ArrowArrayStream>();
    auto state = std::make_unique<StreamState>();
    state->data = share_of(self);
    *stream = ArrowArrayStream{stream_get_schema, stream_get_next, stream_last_error, release_stream,
                               state.release()};
    return capsule(std::move(stream), "arrow_array_stream", destroy_stream_capsule);
  });
}

Py_ssize_t column_length(PyObject* self) { return static_cast<Py_ssize_t>(share_of(self)->length); }

PyObject* column_repr(PyObject* self) {
  const ColumnData& data = *share_of(self);
  const std::string_view f = data.format;
  const char* type = f == "u" ? "string" : f == "U" ? "large_string" : f == "vu" ? "string_view" : "bool";
  return PyUnicode_FromFormat("ArrowColumn(type='%s', length=%lld, null_count=%lld)", type,
                              static_cast<long long>(data.length), static_cast<long long>(data.null_count));
}

template <class F>
PyCFunction method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef kMethods[] = {
    {"__arrow_c_array__", method(column_arrow_c_array), METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\n"},
    {"__arrow_c_stream__", method(column_arrow_c_stream), METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Result of `censor_batch()` or `contains_profanity_batch()` on an Arrow column: "
                    "strings or booleans, nulls where the input had them, for `pyarrow.array()`, "
                    "`polars.Series()` and every reader of the Arrow PyCapsule interface.")},
    {Py_tp_new, reinterpret_cast<void*>(column_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(column_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(column_repr)},
    {Py_tp_methods, kMethods},
    {Py_sq_length, reinterpret_cast<void*>(column_length)},
    {0, nullptr},
};

// Like Match: no subclassing, no dictionary, no weak references, "builtins".
PyType_Spec kSpec = {"builtins.ArrowColumn", sizeof(ColumnObject), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* column_type() {
  static PyObject* type = nullptr;
  if (!type) type = PyType_FromSpec(&kSpec);
  return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* new_column(std::shared_ptr<const ColumnData> data) {
  PyTypeObject* type = column_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (!self) return nullptr;
  new (reinterpret_cast<ColumnObject*>(self)->storage) Share(std::move(data));
  return self;
}

}  // namespace tarnwhisk::py
