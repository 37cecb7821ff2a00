// The ArrowColumn type: our batch results as an Arrow column that any consumer of the
// PyCapsule interface (pyarrow, polars) takes without copying it. The column's buffers
// are shared with every array exported from it and freed by whichever is dropped last,
// on whatever thread.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "arrow.hpp"

namespace tarnwhisk::py {

namespace {

// Buffers are aligned as Arrow recommends, for consumers that read them with wide loads.
constexpr std::size_t kAlignment = 64;

}  // namespace

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

// Like Match: no subclassing, no dictionary, no weak references, and "builtins" as its
// module, on purpose (test_module.py's test_class_names and test_no_subclassing).
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
