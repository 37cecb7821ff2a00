// Arrow columns in and out through the Arrow PyCapsule interface, without an Arrow
// library: the C data interface is a small, stable ABI, declared here as the Arrow
// project documents it. A string column ("u", "U" or "vu") from any producer (pyarrow,
// polars, pandas) is read where it lies; results are built in buffers of our own and
// handed to consumers as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "binding.hpp"

extern "C" {

// The Arrow C data interface (stable ABI).
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}

namespace tarnwhisk::py {

// How a string column lays out its rows: 32-bit offsets ("u"), 64-bit offsets ("U") or
// 16-byte views into any number of data buffers ("vu").
enum class StringLayout : std::uint8_t { Offsets32, Offsets64, Views };

// The rows of a string column imported from a producer. The producer's buffers stay
// alive, and so `texts` valid, until this object is destroyed (it releases them).
class ArrowStrings {
 public:
  ArrowStrings() = default;
  ArrowStrings(const ArrowStrings&) = delete;
  ArrowStrings& operator=(const ArrowStrings&) = delete;
  ~ArrowStrings();

  // Every row, in order, across the chunks of a stream; a null row is empty.
  std::vector<std::string_view> texts;
  // One byte per row, 0 for null, 1 for a value; empty when no row is null.
  std::vector<std::uint8_t> valid;
  StringLayout layout = StringLayout::Offsets32;

  bool is_null(std::size_t i) const noexcept { return !valid.empty() && !valid[i]; }

  // Takes over a producer's array (the struct may move: the interface allows it), to be
  // released with this object; released at once if it cannot be kept.
  const ArrowArray& adopt(ArrowArray array);

 private:
  std::vector<ArrowArray> arrays_;
};

// Reads `obj` as an Arrow string column if it exports one (__arrow_c_array__, or else
// __arrow_c_stream__). Returns 1 when it did, 0 when `obj` exports neither (nothing
// set), -1 with an exception set when the export fails or is not a string column
// (TypeError) or is malformed (ValueError: offsets that decrease, views that point
// outside their buffers).
int import_arrow(PyObject* obj, ArrowStrings& out);

// Memory for a result buffer, aligned for any consumer's vector loads.
class ColumnBuffer {
 public:
  ColumnBuffer() = default;
  // Room for `bytes`, rounded up to the alignment (and at least one unit, so that the
  // pointer is never null). Zero-filled, or with `Fill::None` only the padding after
  // `bytes` is (for buffers that the caller writes whole: a large one is then first
  // touched by the threads that fill it).
  enum class Fill { Zero, None };
  explicit ColumnBuffer(std::size_t bytes, Fill fill = Fill::Zero);
  std::byte* data() const noexcept { return data_.get(); }
  std::size_t size() const noexcept { return size_; }

 private:
  struct Free {
    void operator()(std::byte* p) const noexcept;
  };
  std::unique_ptr<std::byte, Free> data_;
  std::size_t size_ = 0;
};

// A finished column: format, length, nulls and the buffers in the order the format
// prescribes (a null validity buffer when no row is null). Never changed once made, and
// shared by every export of it, which may outlive the Python object.
struct ColumnData {
  const char* format = "u";  // a string literal: "u", "U", "vu" or "b"
  std::int64_t length = 0;
  std::int64_t null_count = 0;
  std::vector<ColumnBuffer> owned;
  std::vector<const void*> buffers;
};

// A new ArrowColumn holding `data`, or nullptr with an exception set.
PyObject* new_column(std::shared_ptr<const ColumnData> data);

}  // namespace tarnwhisk::py
