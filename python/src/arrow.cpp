// Arrow string columns read in place from any producer of the PyCapsule interface (the
// ArrowColumn type that hands our results to consumers is arrow_column.cpp). Every
// pointer a producer gives is checked against what its own offsets, views and buffer
// sizes allow before a row is made of it, so a malformed column is refused, never read
// outside its buffers.
#include "arrow.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace tarnwhisk::py {

namespace {

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

}  // namespace tarnwhisk::py
