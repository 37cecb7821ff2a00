// What the batch methods share (batch.cpp): the texts of a batch as the core reads them,
// read from a sequence of str or an Arrow column, and the run of the core's chunks with
// the interpreter lock released. Private to the module.
#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow.hpp"
#include "binding.hpp"
#include "tarnwhisk/batch.hpp"

namespace tarnwhisk::py {

// Reading a batch and making its Python results run with the lock held; signal handlers
// get their turn every this many texts (asking costs next to nothing when no signal came).
constexpr std::size_t kSignalStride = 1024;

inline bool signals_checked(std::size_t i) { return i % kSignalStride != 0 || PyErr_CheckSignals() == 0; }

// Texts are read one after the other from memory that is mostly not in cache (str objects
// all over the heap): asking for the next ones early lets their loads overlap.
constexpr std::size_t kPrefetchAhead = 16;

inline void prefetch(const void* p) { __builtin_prefetch(p); }

// Strong references to the str objects of a batch, so that their storage stays while
// the lock is released (another thread may change the list meanwhile).
class HeldItems {
 public:
  HeldItems() = default;
  HeldItems(const HeldItems&) = delete;
  HeldItems& operator=(const HeldItems&) = delete;
  ~HeldItems() {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (i + kPrefetchAhead < items_.size()) prefetch(items_[i + kPrefetchAhead]);
      Py_DecRef(items_[i]);
    }
  }
  void reserve(std::size_t n) { items_.reserve(n); }
  void hold(PyObject* borrowed) {
    items_.push_back(borrowed);
    Py_IncRef(borrowed);
  }
  // Hands the reference to item i over to the caller.
  PyObject* take(std::size_t i) noexcept { return std::exchange(items_[i], nullptr); }

 private:
  std::vector<PyObject*> items_;
};

// The texts of a batch, whichever way they came, as the core reads them.
struct Input {
  std::vector<std::string_view> texts;
  // From a sequence: the str objects.
  HeldItems items;
  // Non-ASCII str objects' UTF-8, one after the other.
  ByteBuffer encoded;
  // From an Arrow column: its rows and nulls.
  std::optional<ArrowStrings> arrow;

  bool is_null(std::size_t i) const noexcept { return arrow && arrow->is_null(i); }
  // Whether the texts come to more than `bytes` in all (counted no further than that).
  bool more_than(std::size_t bytes) const noexcept {
    std::size_t total = 0;
    for (std::string_view t : texts) {
      total += t.size();
      if (total > bytes) return true;
    }
    return false;
  }
};

// Rows [begin, end) of a batch's texts (a null row is an empty text).
inline std::span<const std::string_view> chunk_texts(const Input& in, std::size_t begin, std::size_t end) {
  return std::span<const std::string_view>(in.texts).subspan(begin, end - begin);
}

// `workers`: 1 when not given, N >= 1, or -1 for every core of the affinity mask. False
// with TypeError or ValueError set for anything else.
bool parse_workers(PyObject* obj, std::size_t& out);

// Reads `texts`, an Arrow string column or a sequence of str, into `in`. False with the
// exception set (naming the argument, and for a sequence the element) when it is neither.
bool read_input(PyObject* texts, Input& in);

// Runs `task` over the chunks, with the lock released when the batch is worth it (more
// than one worker, or more than a short text's bytes) and signal handlers run between
// chunks meanwhile, each time followed by `locked_work` (may be empty; see Unlocked).
// False, with the exception set, when a handler or the work raised.
bool run(const Input& in, const std::vector<std::size_t>& bounds, std::size_t workers, const ChunkTask& task,
         std::function<bool()> locked_work = {});

}  // namespace tarnwhisk::py
