// Argument binding and value conversion for the extension's entry points. Python
// callers see the same wording for every argument mistake, whichever entry point they
// called, so the messages are made in this one place. (The str to UTF-8 conversions are
// str_utf8.cpp.)
#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include <unistd.h>

#include "binding.hpp"

namespace tarnwhisk::py {

namespace {

// "Tarnwhisk.find()" and the like, as the messages name the callable.
std::string full_name(const Signature& sig) {
  std::string name = sig.class_name;
  name += '.';
  name += sig.function_name;
  name += "()";
  return name;
}

void raise_too_many_positional(const Signature& sig, Py_ssize_t given) {
  const std::string name = full_name(sig);
  const char* verb = given == 1 ? "was" : "were";
  const Py_ssize_t most = sig.positional < 0 ? sig.count : sig.positional;
  if (sig.required != most) {
    PyErr_Format(PyExc_TypeError, "%s takes from %zd to %zd positional arguments but %zd %s given",
                 name.c_str(), sig.required, most, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 name.c_str(), most, given, verb);
  }
}

void raise_missing(const Signature& sig, const std::vector<const char*>& missing) {
  // "'a'", "'a' and 'b'", "'a', 'b' and 'c'"
  std::string list;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) list += i + 1 == missing.size() ? " and " : ", ";
    list += '\'';
    list += missing[i];
    list += '\'';
  }
  const std::string name = full_name(sig);
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", name.c_str(),
               missing.size(), missing.size() == 1 ? "" : "s", list.c_str());
}

// The index of the parameter named `key`, or -1.
Py_ssize_t parameter_index(const Signature& sig, PyObject* key) {
  if (!is_str(key)) return -1;
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) == 0) return i;
  }
  return -1;
}

// The __qualname__ of the type of `obj`, or a placeholder when it cannot be had.
Ref type_qualname(PyObject* obj) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  if (!name || !is_str(name.get())) {
    PyErr_Clear();
    name.reset(PyUnicode_FromString("<failed to extract type name>"));
  }
  return name;
}

}  // namespace

namespace {

Py_ssize_t max_positional(const Signature& sig) {
  return sig.positional < 0 ? sig.count : sig.positional;
}

// More positional values than parameters is the first error a caller is told about.
bool bind_positional(const Signature& sig, Py_ssize_t nargs) {
  if (nargs > max_positional(sig)) {
    raise_too_many_positional(sig, nargs);
    return false;
  }
  return true;
}

// One keyword: it must name a parameter that no positional value has filled.
bool bind_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
  const Py_ssize_t index = parameter_index(sig, key);
  if (PyErr_Occurred()) return false;
  if (index < 0) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                 full_name(sig).c_str(), key);
    return false;
  }
  if (out[index]) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                 full_name(sig).c_str(), sig.names[index]);
    return false;
  }
  out[index] = value;
  return true;
}

bool check_required(const Signature& sig, PyObject** out) {
  Py_ssize_t given = 0;
  while (given < sig.required && out[given]) ++given;
  if (given == sig.required) return true;
  // out[given] is missing, so the list is never empty.
  std::vector<const char*> missing;
  for (Py_ssize_t i = given; i < sig.required; ++i) {
    if (!out[i]) missing.push_back(sig.names[i]);
  }
  raise_missing(sig, missing);
  return false;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = nullptr;
  const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs < 0) return false;
  for (Py_ssize_t i = 0; i < nargs && i < max_positional(sig); ++i) out[i] = PyTuple_GetItem(args, i);
  if (!bind_positional(sig, nargs)) return false;
  if (kwargs && PyDict_Size(kwargs) > 0) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!bind_keyword(sig, key, value, out)) return false;
    }
  }
  return check_required(sig, out);
}

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) {
  if (!kwnames && nargs >= sig.required && nargs <= max_positional(sig)) {
    // The common call: positional values only, every required one given.
    for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    return true;
  }
  for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = nullptr;
  for (Py_ssize_t i = 0; i < nargs && i < max_positional(sig); ++i) out[i] = args[i];
  if (!bind_positional(sig, nargs)) return false;
  if (kwnames) {
    const Py_ssize_t count = PyTuple_Size(kwnames);
    if (count < 0) return false;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!bind_keyword(sig, PyTuple_GetItem(kwnames, i), args[nargs + i], out)) return false;
    }
  }
  return check_required(sig, out);
}

bool prefix_type_error(const std::string& prefix) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (!type || !PyErr_GivenExceptionMatches(type, PyExc_TypeError)) {
    PyErr_Restore(type, value, traceback);
    return false;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref original_type(type), original(value), original_tb(traceback);

  Ref message(original ? PyObject_Str(original.get()) : PyUnicode_FromString(""));
  if (!message) return false;
  Ref text(PyUnicode_FromFormat("%s%U", prefix.c_str(), message.get()));
  if (!text) return false;
  Ref remapped(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
  if (!remapped) return false;
  if (original) {
    // The new error stands in for the old one, so it carries the old one's cause.
    PyObject* cause = PyException_GetCause(original.get());  // new reference or NULL
    if (cause) PyException_SetCause(remapped.get(), cause);  // steals `cause`
  }
  PyErr_SetObject(PyExc_TypeError, remapped.get());
  return false;
}

bool argument_error(const char* name) {
  return prefix_type_error(std::string("argument '") + name + "': ");
}

void raise_cannot_convert(PyObject* obj, const char* target) {
  Ref name = type_qualname(obj);
  if (!name) return;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
}

namespace {

// NumPy's boolean scalar type ("numpy.bool_", named "numpy.bool" in NumPy 2).
bool is_numpy_bool(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref module(PyObject_GetAttrString(type, "__module__"));
  Ref name(module ? PyObject_GetAttrString(type, "__name__") : nullptr);
  if (!module || !name || !is_str(module.get()) || !is_str(name.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

}  // namespace

bool to_bool(PyObject* obj, bool& out) {
  if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    return true;
  }
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  raise_cannot_convert(obj, "PyBool");
  return false;
}

bool to_u8(PyObject* obj, std::uint8_t& out) {
  Ref index(PyNumber_Index(obj));
  if (!index) return false;
  const long value = PyLong_AsLong(index.get());
  if (value == -1 && PyErr_Occurred()) return false;
  if (value < 0 || value > 255) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<std::uint8_t>(value);
  return true;
}

bool for_each_in_sequence(PyObject* obj, bool (*convert)(PyObject* item, void* ctx), void* ctx) {
  if (is_str(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) {
    raise_cannot_convert(obj, "Sequence");
    return false;
  }
  Ref iterator(PyObject_GetIter(obj));
  if (!iterator) return false;
  while (Ref item{PyIter_Next(iterator.get())}) {
    if (!convert(item.get(), ctx)) return false;
  }
  return !PyErr_Occurred();
}

// Most elements that a length hint may reserve room for: a sequence's __len__ is its
// own code and may say anything (a list subclass can claim 2**62 elements and hold
// three), while iteration decides what is read. Longer lists grow as they are read.
constexpr Py_ssize_t kMaxReservedElements = 1 << 12;

bool to_string_list(PyObject* obj, std::vector<std::string>& out) {
  // A capacity hint only: a sequence whose length fails is still iterated.
  const Py_ssize_t hint = is_str(obj) || !PySequence_Check(obj) ? -1 : PySequence_Size(obj);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(std::min(hint, kMaxReservedElements)));
  }
  return for_each_in_sequence(
      obj,
      [](PyObject* item, void* ctx) {
        std::string& s = static_cast<std::vector<std::string>*>(ctx)->emplace_back();
        return to_string(item, s);
      },
      &out);
}

int on_main_thread() {
  // The main thread's identity, asked of the threading module once per process (a fork
  // from another thread makes that thread the child's main thread). Asking runs Python
  // code, where a signal handler may raise: that exception is the call's.
  static unsigned long main_ident = 0;
  static pid_t asked_in = 0;
  if (asked_in != getpid()) {
    Ref threading(PyImport_ImportModule("threading"));
    Ref main(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
    Ref ident(main ? PyObject_GetAttrString(main.get(), "ident") : nullptr);
    if (!ident) return -1;
    const unsigned long value = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) return -1;
    main_ident = value;
    asked_in = getpid();
  }
  return PyThread_get_thread_ident() == main_ident;
}

Unlocked::Unlocked(bool main_thread, std::function<bool()> locked_work)
    : state_(nullptr),
      main_thread_(main_thread),
      last_check_(std::chrono::steady_clock::now()),
      locked_work_(std::move(locked_work)),
      poll_([this](std::size_t) { return check_signals(); }) {
  state_ = PyEval_SaveThread();
}

Unlocked::~Unlocked() { PyEval_RestoreThread(state_); }

bool Unlocked::check_signals() noexcept {
  if (!main_thread_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_check_ < kSignalInterval) return true;
  last_check_ = now;
  PyEval_RestoreThread(state_);
  bool ok = PyErr_CheckSignals() == 0;
  if (ok && locked_work_) {
    try {
      ok = locked_work_();
    } catch (...) {
      set_exception_from_current();
      ok = false;
    }
  }
  state_ = PyEval_SaveThread();
  return ok;
}

void set_exception_from_current() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_Format(PyExc_SystemError, "tarnwhisk internal error: %s", e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "tarnwhisk internal error: unknown C++ exception");
  }
}

}  // namespace tarnwhisk::py
