// The TextStream type: one text given in chunks through a filter (Tarnwhisk.stream()).
// It wraps the core's TextStream and speaks in str terms: each feed() and finish()
// returns the next final stretch of the censored text and the hits that became final,
// as find_text() gives them on the whole text.
//
// The core reports byte offsets from the start of the whole text. To turn them into str
// indices and to cut out the matched text, the object keeps its own copy of the source
// from the core's settled() on (a hit still to come cannot start before it), with the
// number of code points before that copy: memory follows what the core itself holds,
// not the length of the text.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "binding.hpp"

namespace tarnwhisk::py {

namespace {

struct StreamState {
  Ref filter;  // the Tarnwhisk object, which holds the core filter the stream reads
  TextStream stream;
  std::mutex busy;                         // one call at a time
  std::atomic<unsigned long> owner{0};     // thread ident of the call in progress
  std::string source;                      // source bytes [base, consumed) from `head`
  std::size_t head = 0;                    // source[head] is the byte at offset `base`
  std::size_t base = 0;                    // byte offset of source[head] in the text
  std::size_t base_chars = 0;              // code points that start before `base`
  std::string censored_tail;               // censored bytes that end inside a character
  bool broken = false;                     // a call was interrupted inside the core

  StreamState(PyObject* filter_object, const Tarnwhisk& filter, bool censor)
      : filter(Ref::borrow(filter_object)), stream(filter.stream(StreamOptions{.censor = censor})) {}
};

struct StreamObject {
  PyObject_HEAD
  alignas(StreamState) unsigned char storage[sizeof(StreamState)];
};

StreamState& state_of(PyObject* self) {
  return *std::launder(reinterpret_cast<StreamState*>(reinterpret_cast<StreamObject*>(self)->storage));
}

PyObject* stream_new(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

void stream_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject *exc_type, *exc_value, *exc_tb;
  PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
  // The core stream goes first: it reads the filter that `filter` keeps alive.
  state_of(self).~StreamState();
  PyErr_Restore(exc_type, exc_value, exc_tb);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// Holds the stream's lock for one call. A second thread waits for it with the
// interpreter lock released, so that the call in progress can finish; the thread that
// holds it (a signal handler run during its own call) gets RuntimeError instead of a
// deadlock.
class Busy {
 public:
  explicit Busy(StreamState& state) : state_(state) {}
  ~Busy() {
    if (locked_) {
      state_.owner.store(0);
      state_.busy.unlock();
    }
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

  bool acquire() {
    const unsigned long me = PyThread_get_thread_ident();
    if (!state_.busy.try_lock()) {
      if (state_.owner.load() == me) {
        PyErr_SetString(PyExc_RuntimeError, "TextStream is already in a call on this thread");
        return false;
      }
      PyThreadState* saved = PyEval_SaveThread();
      state_.busy.lock();
      PyEval_RestoreThread(saved);
    }
    state_.owner.store(me);
    locked_ = true;
    return true;
  }

 private:
  StreamState& state_;
  bool locked_ = false;
};

// Length of the longest prefix of `bytes` (valid UTF-8 cut anywhere) that ends on a
// character boundary.
std::size_t whole_characters(std::string_view bytes) {
  std::size_t n = bytes.size();
  for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
    const auto c = static_cast<unsigned char>(bytes[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    return length <= back ? n : n - back;
  }
  return n;
}

std::size_t count_characters(std::string_view bytes) {
  std::size_t count = 0;
  for (const char c : bytes) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// (censored, hits) from what the core appended to `out`, then forgets the source that
// no hit to come can reach.
PyObject* make_result(StreamState& state, TextStream::Output& out) {
  state.censored_tail += out.censored;
  const std::size_t ready = whole_characters(state.censored_tail);
  Ref censored(PyUnicode_DecodeUTF8(state.censored_tail.data(), static_cast<Py_ssize_t>(ready), "strict"));
  if (!censored) return nullptr;
  state.censored_tail.erase(0, ready);

  // Every hit starts at or after `base` (the settled() of the call before); one walk
  // over the copy gives the code-point index of every offset named.
  const std::string_view held = std::string_view(state.source).substr(state.head);
  std::vector<std::size_t> offsets;
  offsets.reserve(2 * out.hits.size());
  for (const Match& hit : out.hits) {
    if (hit.start < state.base || hit.end > state.base + held.size() || hit.start > hit.end) {
      PyErr_SetString(PyExc_SystemError, "tarnwhisk internal error: a stream hit outside the held source");
      return nullptr;
    }
    offsets.push_back(hit.start);
    offsets.push_back(hit.end);
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  std::vector<std::size_t> indices(offsets.size());
  std::size_t at = 0, count = state.base_chars;
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    const std::size_t to = offsets[k] - state.base;
    count += count_characters(held.substr(at, to - at));
    at = to;
    indices[k] = count;
  }
  const auto index_of = [&](std::size_t offset) {
    const auto k = std::lower_bound(offsets.begin(), offsets.end(), offset) - offsets.begin();
    return static_cast<Py_ssize_t>(indices[static_cast<std::size_t>(k)]);
  };
  Ref hits(PyList_New(static_cast<Py_ssize_t>(out.hits.size())));
  if (!hits) return nullptr;
  for (std::size_t i = 0; i < out.hits.size(); ++i) {
    const Match& hit = out.hits[i];
    Ref start(PyLong_FromSsize_t(index_of(hit.start))), end(PyLong_FromSsize_t(index_of(hit.end)));
    Ref matched(PyUnicode_DecodeUTF8(held.data() + (hit.start - state.base),
                                     static_cast<Py_ssize_t>(hit.end - hit.start), "strict"));
    Ref match(new_match(hit));
    if (!start || !end || !matched || !match) return nullptr;
    PyObject* item = PyTuple_Pack(4, start.get(), end.get(), matched.get(), match.get());
    if (!item || PyList_SetItem(hits.get(), static_cast<Py_ssize_t>(i), item) < 0) return nullptr;
  }

  // Forget the source before settled(); compact once the forgotten part is the larger.
  const std::size_t settled = std::max(state.stream.settled(), state.base);
  const std::size_t drop = std::min(settled - state.base, held.size());
  state.base_chars += count_characters(held.substr(0, drop));
  state.base += drop;
  state.head += drop;
  if (state.head > state.source.size() / 2) {
    state.source.erase(0, state.head);
    state.head = 0;
  }
  return PyTuple_Pack(2, censored.get(), hits.get());
}

bool check_type(PyObject* self) {
  PyTypeObject* type = stream_type();
  if (!type) return false;
  if (Py_TYPE(self) != type) {
    raise_cannot_convert(self, "TextStream");
    return false;
  }
  return true;
}

bool usable(StreamState& state, bool feeding) {
  if (state.broken) {
    PyErr_SetString(PyExc_RuntimeError,
                    "the TextStream was interrupted inside a call and cannot go on; start a new one");
    return false;
  }
  if (feeding && state.stream.finished()) {
    PyErr_SetString(PyExc_ValueError, "feed() after finish(): the TextStream has ended");
    return false;
  }
  return true;
}

// Chunks above this size go to the core in slices, so that signal handlers run between
// them (a slice of this size takes a few milliseconds).
constexpr std::size_t kSliceBytes = 256 * 1024;

const char* const kChunkNames[] = {"chunk"};
const Signature kFeedSignature = {"TextStream", "feed", kChunkNames, 1, 1};
const Signature kFinishSignature = {"TextStream", "finish", nullptr, 0, 0};

PyObject* stream_feed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* chunk = nullptr;
    if (!bind_arguments(kFeedSignature, args, nargs, kwnames, &chunk)) return nullptr;
    if (!check_type(self)) return nullptr;
    Utf8 utf8;
    if (!to_utf8(chunk, utf8)) {
      argument_error("chunk");
      return nullptr;
    }
    StreamState& state = state_of(self);
    Busy busy(state);
    if (!busy.acquire() || !usable(state, true)) return nullptr;
    const std::string_view bytes = utf8.view();
    const bool unlock = bytes.size() > kUnlockAbove;
    const int main_thread = unlock ? on_main_thread() : 0;
    if (main_thread < 0) return nullptr;
    state.source.append(bytes);
    TextStream::Output out;
    // Marked broken until the hits are handed out: an exception, or a signal handler's
    // error between slices, leaves the stream part-way through the chunk.
    state.broken = true;
    if (!unlock) {
      state.stream.feed(bytes, out);
    } else {
      Unlocked unlocked(main_thread != 0);
      for (std::size_t at = 0; at < bytes.size(); at += kSliceBytes) {
        if (at > 0 && !unlocked.check_signals()) return nullptr;
        state.stream.feed(bytes.substr(at, kSliceBytes), out);
      }
    }
    PyObject* result = make_result(state, out);
    state.broken = result == nullptr;
    return result;
  });
}

PyObject* stream_finish(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    if (!bind_arguments(kFinishSignature, args, nargs, kwnames, nullptr)) return nullptr;
    if (!check_type(self)) return nullptr;
    StreamState& state = state_of(self);
    Busy busy(state);
    if (!busy.acquire() || !usable(state, false)) return nullptr;
    const bool unlock = state.source.size() - state.head > kUnlockAbove;
    const int main_thread = unlock ? on_main_thread() : 0;
    if (main_thread < 0) return nullptr;
    TextStream::Output out;
    state.broken = true;
    if (!unlock) {
      state.stream.finish(out);
    } else {
      Unlocked unlocked(main_thread != 0);
      state.stream.finish(out);
    }
    PyObject* result = make_result(state, out);
    state.broken = result == nullptr;
    return result;
  });
}

template <class F>
PyCFunction method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef kMethods[] = {
    {"feed", method(stream_feed), METH_FASTCALL | METH_KEYWORDS,
     "feed($self, chunk)\n--\n\n"
     "The next piece of the text: returns (censored, hits), the stretch of the censored\n"
     "text that became final and the hits that did, as find_text() gives them on the\n"
     "whole text. ValueError after finish()."},
    {"finish", method(stream_finish), METH_FASTCALL | METH_KEYWORDS,
     "finish($self)\n--\n\n"
     "The text has ended: returns (censored, hits) with everything still waiting.\n"
     "Calling it again returns ('', [])."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Result of `Tarnwhisk.stream()`: one text given in chunks. The outputs of "
                    "`feed()` and `finish()` put together are `censor()` and `find_text()` of "
                    "the whole text, however it was cut.")},
    {Py_tp_new, reinterpret_cast<void*>(stream_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

// Like Match: no subclassing, no dictionary, no weak references, "builtins".
PyType_Spec kSpec = {"builtins.TextStream", sizeof(StreamObject), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* stream_type() {
  static PyObject* type = nullptr;
  if (!type) type = PyType_FromSpec(&kSpec);
  return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* new_stream(PyObject* filter_object, const Tarnwhisk& filter, bool censor) {
  PyTypeObject* type = stream_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (!self) return nullptr;
  try {
    new (reinterpret_cast<StreamObject*>(self)->storage) StreamState(filter_object, filter, censor);
  } catch (...) {
    // Not constructed: free the memory without the destructor that dealloc would run.
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
    throw;
  }
  return self;
}

}  // namespace tarnwhisk::py
