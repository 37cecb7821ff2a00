// What the translation units of the Python extension share: the owned-reference
// handle, the type objects, argument binding, value conversions with their messages,
// the interpreter lock released around long work, and the guard that keeps C++
// exceptions out of the interpreter.
//
// Only the limited C API is used (Py_LIMITED_API is set by the build), so one build
// of the module loads into every later interpreter version.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk::py {

// An owned (strong) reference, released on scope exit, also when unwinding.
class Ref {
 public:
  Ref() noexcept = default;
  explicit Ref(PyObject* owned) noexcept : p_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_DecRef(p_); }

  // Takes a new strong reference to a borrowed one.
  static Ref borrow(PyObject* borrowed) noexcept {
    Py_IncRef(borrowed);
    return Ref(borrowed);
  }

  PyObject* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference over to the caller.
  PyObject* release() noexcept {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(PyObject* owned = nullptr) noexcept {
    PyObject* old = p_;
    p_ = owned;
    Py_DecRef(old);
  }

 private:
  PyObject* p_ = nullptr;
};

// ---- Type objects --------------------------------------------------------------------

// The type objects, made on first use and kept for the life of the process. Return a
// borrowed reference, or nullptr with an exception set.
PyTypeObject* filter_type();
PyTypeObject* match_type();
PyTypeObject* column_type();  // ArrowColumn, the batch methods' Arrow results (arrow.cpp)

PyTypeObject* stream_type();  // TextStream, what Tarnwhisk.stream() returns (stream_type.cpp)

// A new TextStream through `filter`, the core filter held by the Tarnwhisk object
// `filter_object` (which the stream keeps alive), or nullptr with an exception set.
// `censor`: whether the stream writes the censored text.
PyObject* new_stream(PyObject* filter_object, const Tarnwhisk& filter, bool censor);

// A new Match object holding the fields of `hit`, or nullptr with an exception set.
PyObject* new_match(const Match& hit);

// ---- Argument binding ----------------------------------------------------------------

// The parameter list of one callable: the first `positional` parameters (all of them
// when it is negative) may be given by position or by keyword, the rest by keyword only;
// the first `required` are required, and nothing else is accepted.
struct Signature {
  const char* class_name;
  const char* function_name;
  const char* const* names;
  Py_ssize_t count;
  Py_ssize_t required;
  Py_ssize_t positional = -1;
};

// Binds `args` and `kwargs` to the parameters of `sig`: out[i] receives a borrowed
// reference to the value of parameter i, or nullptr when it was not given. Raises
// TypeError (too many positional arguments, unexpected or repeated keyword, missing
// required argument) and returns false on failure.
bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);
// The same for the vectorcall convention: `nargs` positional values in `args`, then one
// value per name in the tuple `kwnames` (nullptr when there are no keywords).
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out);

// Re-raises a TypeError that converting argument `name` raised as
// "argument 'NAME': " + its message, the original's cause kept; any other exception
// passes unchanged. Always returns false, so that callers can `return` it.
bool argument_error(const char* name);
// The same with any prefix, e.g. "argument 'texts': element 3: ".
bool prefix_type_error(const std::string& prefix);

// ---- Value conversions -----------------------------------------------------------------
// Each returns false with an exception set when `obj` cannot be converted.

// Raises TypeError "'X' object cannot be converted to 'TARGET'", X the __qualname__ of
// the type of `obj`.
void raise_cannot_convert(PyObject* obj, const char* target);

inline bool is_str(PyObject* obj) noexcept {
  return (PyType_GetFlags(Py_TYPE(obj)) & Py_TPFLAGS_UNICODE_SUBCLASS) != 0;
}
inline bool is_dict(PyObject* obj) noexcept {
  return (PyType_GetFlags(Py_TYPE(obj)) & Py_TPFLAGS_DICT_SUBCLASS) != 0;
}

// The UTF-8 form of a str that holds only ASCII, which is the str's own storage (nothing
// copied, nothing cached in the str): 1 with `out` set, 0 when the str holds other
// characters, -1 on error. (ASCII is asked of str itself: a subclass's isascii override
// could only make the answer cost memory, never change a result.)
int ascii_view(PyObject* obj, std::string_view& out);

// A growable byte buffer that the batch methods encode many texts into, one after the
// other (malloc'd, so that it can grow in place).
class ByteBuffer {
 public:
  char* data() const noexcept { return data_.get(); }
  std::size_t size() const noexcept { return size_; }
  // Room for `extra` more bytes after size(); false with MemoryError set when there is
  // none to be had.
  bool reserve_more(std::size_t extra);
  void grow_by(std::size_t n) noexcept { size_ += n; }

  struct Free {
    void operator()(char* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<char, Free> release() noexcept {
    size_ = capacity_ = 0;
    return std::move(data_);
  }

 private:
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Appends the UTF-8 form of the str `obj` to `out`, leaving nothing cached in `obj`. A
// lone surrogate raises the interpreter's UnicodeEncodeError.
bool encode_utf8(PyObject* obj, ByteBuffer& out);

// The UTF-8 form of a str: borrowed from the str itself when it is ASCII (its storage
// is its UTF-8; the caller keeps it alive), otherwise encoded into a buffer of its own,
// so that the str is left without a cached UTF-8 copy of itself.
class Utf8 {
 public:
  std::string_view view() const noexcept { return view_; }
  std::string str() const { return std::string(view_); }

  using Free = ByteBuffer::Free;

 private:
  friend bool to_utf8(PyObject* obj, Utf8& out);
  std::unique_ptr<char, Free> owned_;
  std::string_view view_;
};

// `str` (or subclass) to UTF-8; a lone surrogate raises the interpreter's
// UnicodeEncodeError.
bool to_utf8(PyObject* obj, Utf8& out);
bool to_string(PyObject* obj, std::string& out);
// `bool` only (integers refused), plus NumPy's boolean scalars through their truth value.
bool to_bool(PyObject* obj, bool& out);
// An integer index from 0 to 255; OverflowError outside that range.
bool to_u8(PyObject* obj, std::uint8_t& out);
// A sequence (not a str) whose elements are taken by iteration. Borrowed elements are
// not kept: each element is passed to `convert` while a reference is held.
bool for_each_in_sequence(PyObject* obj, bool (*convert)(PyObject* item, void* ctx), void* ctx);
bool to_string_list(PyObject* obj, std::vector<std::string>& out);

// ---- Constructor options ---------------------------------------------------------------

// Reads the options dictionary (a dict or subclass) into `builder`, key by key in the
// fixed order. Returns false with ValueError, TypeError, OverflowError or
// UnicodeEncodeError set on the first bad value.
bool read_options(PyObject* options, TarnwhiskBuilder& builder);

// ---- The interpreter lock ------------------------------------------------------------------

// Texts up to this many bytes are worked on with the lock held: releasing and taking it
// back costs far less than the work, but under contention the taking back can wait for
// another thread's turn, which a short call should not pay.
inline constexpr std::size_t kUnlockAbove = 16 * 1024;

// Whether the calling thread is the interpreter's main thread, the one that runs signal
// handlers: 1 or 0, or -1 with an exception set (finding out may run Python code, where
// a handler may raise).
int on_main_thread();

// Releases the interpreter lock for its lifetime (made and destroyed with it held). No
// Python object may be touched meanwhile, except through check_signals().
class Unlocked {
 public:
  // `main_thread`: what on_main_thread() answered. `locked_work` (may be empty) runs
  // each time check_signals() has the lock back and no handler raised, for Python work
  // that can be done while the core goes on (false, with an exception set, stops).
  explicit Unlocked(bool main_thread, std::function<bool()> locked_work = {});
  ~Unlocked();
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

  // On the main thread, at most once per kSignalInterval: takes the lock back, runs the
  // handlers of signals that arrived meanwhile (Ctrl-C's raises KeyboardInterrupt), then
  // the locked work. Returns false, the exception set, when a handler or the work raised.
  // Other threads never see signals, so there it only answers true.
  bool check_signals() noexcept;
  // A poll for the core's calls that runs check_signals().
  const Poll& poll() const noexcept { return poll_; }

  static constexpr std::chrono::milliseconds kSignalInterval{20};

 private:
  PyThreadState* state_;
  bool main_thread_;
  std::chrono::steady_clock::time_point last_check_;
  std::function<bool()> locked_work_;
  Poll poll_;
};

// ---- Batches (batch.cpp) ----------------------------------------------------------------

enum class BatchCall { Find, Censor, ContainsProfanity };

// `call` of `filter` over `texts` (a sequence of str, or an Arrow string column) with
// `workers` (the argument's object, nullptr when not given). Returns the result list or
// ArrowColumn, or nullptr with an exception set.
PyObject* call_batch(BatchCall call, const Tarnwhisk& filter, PyObject* texts, PyObject* workers);

// ---- Exceptions -------------------------------------------------------------------------

// Turns the C++ exception being handled into a Python exception: std::bad_alloc into
// MemoryError, anything else into SystemError. Call only inside a catch block.
void set_exception_from_current() noexcept;

// Runs `body` (returning PyObject*, nullptr meaning "exception set") so that no C++
// exception escapes to the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_exception_from_current();
    return nullptr;
  }
}

}  // namespace tarnwhisk::py
