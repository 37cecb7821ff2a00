// Reading a batch's texts: an Arrow column in place, or a sequence of str, each ASCII str
// read where it lies and the others encoded into one buffer for the whole batch.
#include "batch_input.hpp"

#include <string>

namespace tarnwhisk::py {

namespace {

bool read_sequence(PyObject* texts, Input& in) {
  if (is_str(texts)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return argument_error("texts");
  }
  if (!PySequence_Check(texts)) {
    raise_cannot_convert(texts, "Sequence");
    return argument_error("texts");
  }
  // A list or tuple is read in place, any other sequence through a tuple of its items.
  // One pass takes each str's reference and its UTF-8 (one visit to each object, and
  // the next ones asked for early: they lie all over the heap).
  const bool list = PyList_CheckExact(texts);
  Ref tuple;
  PyObject* seq = texts;
  if (!list && !PyTuple_CheckExact(texts)) {
    tuple.reset(PySequence_Tuple(texts));
    if (!tuple) return false;
    seq = tuple.get();
  }
  auto item_at = [&](Py_ssize_t i) { return list ? PyList_GetItem(seq, i) : PyTuple_GetItem(seq, i); };
  const Py_ssize_t n = list ? PyList_Size(seq) : PyTuple_Size(seq);
  if (n < 0) return false;
  in.texts.resize(static_cast<std::size_t>(n));
  in.items.reserve(static_cast<std::size_t>(n));
  struct Encoded {
    std::size_t row, offset, size;
  };
  std::vector<Encoded> encoded;
  const auto ahead = static_cast<Py_ssize_t>(kPrefetchAhead);
  for (Py_ssize_t i = 0; i < n; ++i) {
    // A signal handler (or a finaliser run by an allocation) may shrink the list: then
    // item_at raises IndexError.
    if (!signals_checked(static_cast<std::size_t>(i))) return false;
    PyObject* item = item_at(i);
    if (!item) return false;
    if (i + ahead < n) {
      if (PyObject* next = item_at(i + ahead)) {
        prefetch(next);
      } else {
        PyErr_Clear();
      }
    }
    if (!is_str(item)) {
      raise_cannot_convert(item, "PyString");
      return prefix_type_error("argument 'texts': element " + std::to_string(i) + ": ");
    }
    in.items.hold(item);
    const int ascii = ascii_view(item, in.texts[static_cast<std::size_t>(i)]);
    if (ascii < 0) return false;
    if (ascii) continue;
    const std::size_t offset = in.encoded.size();
    if (!encode_utf8(item, in.encoded)) return false;
    encoded.push_back({static_cast<std::size_t>(i), offset, in.encoded.size() - offset});
  }
  // The buffer has stopped moving: point the views into it.
  for (const Encoded& e : encoded) in.texts[e.row] = std::string_view(in.encoded.data() + e.offset, e.size);
  return true;
}

}  // namespace

bool parse_workers(PyObject* obj, std::size_t& out) {
  if (!obj) {
    out = 1;
    return true;
  }
  Ref index(PyNumber_Index(obj));
  if (!index) return argument_error("workers");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow || (value < 1 && value != kAllCores)) {
    PyErr_Format(PyExc_ValueError,
                 "workers must be a number of threads (1 or more) or -1 for every core this "
                 "process may run on, not %R",
                 obj);
    return false;
  }
  out = resolve_workers(value);
  return true;
}

bool read_input(PyObject* texts, Input& in) {
  in.arrow.emplace();
  const int arrow = import_arrow(texts, *in.arrow);
  if (arrow < 0) return argument_error("texts");
  if (arrow > 0) {
    in.texts = std::move(in.arrow->texts);
    return true;
  }
  in.arrow.reset();
  return read_sequence(texts, in);
}

bool run(const Input& in, const std::vector<std::size_t>& bounds, std::size_t workers, const ChunkTask& task,
         std::function<bool()> locked_work) {
  if (workers <= 1 && !in.more_than(kUnlockAbove)) return run_chunks(bounds, 1, Poll(), task);
  const int main_thread = on_main_thread();
  if (main_thread < 0) return false;
  Unlocked unlocked(main_thread != 0, std::move(locked_work));
  return run_chunks(bounds, workers, unlocked.poll(), task);
}

}  // namespace tarnwhisk::py
