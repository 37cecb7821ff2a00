// The Tarnwhisk type: owns one built core filter by value and hands Python strings to
// it. The filter is never changed after construction, so the object has no setters and
// can be shared freely.
#include <algorithm>

#include "binding.hpp"

namespace tarnwhisk::py {

namespace {

struct FilterObject {
  PyObject_HEAD
  alignas(Tarnwhisk) unsigned char storage[sizeof(Tarnwhisk)];
};

const Tarnwhisk& filter_of(PyObject* self) {
  return *std::launder(reinterpret_cast<const Tarnwhisk*>(reinterpret_cast<FilterObject*>(self)->storage));
}

const char* const kOptionsNames[] = {"options"};
const Signature kNewSignature = {"Tarnwhisk", "__new__", kOptionsNames, 1, 0};

PyObject* filter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* options = nullptr;
    if (!bind_arguments(kNewSignature, args, kwargs, &options)) return nullptr;
    if (options == Py_None) options = nullptr;
    if (options && !is_dict(options)) {
      raise_cannot_convert(options, "PyDict");
      argument_error("options");
      return nullptr;
    }
    TarnwhiskBuilder builder;
    if (options) {
      // Held while user code (e.g. __index__ of a severity) may run.
      Ref held = Ref::borrow(options);
      if (!read_options(held.get(), builder)) return nullptr;
    }
    Result<Tarnwhisk> built = builder.build();
    if (!built) {
      const std::string message = built.error().to_string();
      Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
      if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
      return nullptr;
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    new (reinterpret_cast<FilterObject*>(self)->storage) Tarnwhisk(std::move(built).value());
    return self;
  });
}

void filter_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // Deallocation may run while an exception is being raised; keep it intact.
  PyObject *exc_type, *exc_value, *exc_tb;
  PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
  try {
    std::launder(reinterpret_cast<Tarnwhisk*>(reinterpret_cast<FilterObject*>(self)->storage))->~Tarnwhisk();
  } catch (...) {
    // Nowhere to raise to: hand the error to the unraisable-exception hook.
    set_exception_from_current();
    PyErr_WriteUnraisable(self);
  }
  PyErr_Restore(exc_type, exc_value, exc_tb);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  // Instances of heap types hold a reference to their type.
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// Binds the one `text` argument of a method and takes its UTF-8 form.
bool text_argument(const Signature& sig, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Utf8& out) {
  PyObject* text = nullptr;
  if (!bind_arguments(sig, args, nargs, kwnames, &text)) return false;
  PyTypeObject* type = filter_type();
  if (!type) return false;
  if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
    raise_cannot_convert(self, "Tarnwhisk");
    return false;
  }
  if (!to_utf8(text, out)) return argument_error("text");
  return true;
}

const char* const kTextNames[] = {"text"};
const Signature kFindSignature = {"Tarnwhisk", "find", kTextNames, 1, 1};
const Signature kCensorSignature = {"Tarnwhisk", "censor", kTextNames, 1, 1};
const Signature kContainsSignature = {"Tarnwhisk", "contains_profanity", kTextNames, 1, 1};

// A text up to kUnlockAbove bytes is answered with the lock held, by the core's plain
// call: a chat-sized call pays nothing for the lock release, the signal polls or the
// optional result of the long road.
bool short_text(const Utf8& text) noexcept { return text.view().size() <= kUnlockAbove; }

// The core's answer for a long text: with the lock released and signal handlers run
// between pieces (std::nullopt, with the exception set, when one raised). The str's
// UTF-8 stays valid meanwhile: str is immutable, and the caller holds it.
template <class Long>
auto long_answer(Long&& long_call) -> decltype(long_call(std::declval<const Poll&>())) {
  const int main_thread = on_main_thread();
  if (main_thread < 0) return std::nullopt;
  Unlocked unlocked(main_thread != 0);
  return long_call(unlocked.poll());
}

PyObject* filter_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Utf8 text;
    if (!text_argument(kFindSignature, self, args, nargs, kwnames, text)) return nullptr;
    const Tarnwhisk& filter = filter_of(self);
    std::vector<Match> hits;
    if (short_text(text)) {
      hits = filter.find(text.view());
    } else {
      std::optional<std::vector<Match>> found =
          long_answer([&](const Poll& poll) { return filter.find(text.view(), poll); });
      if (!found) return nullptr;
      hits = std::move(*found);
    }
    Ref list(PyList_New(static_cast<Py_ssize_t>(hits.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < hits.size(); ++i) {
      PyObject* match = new_match(hits[i]);
      if (!match) return nullptr;  // the list releases the objects made so far
      if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), match) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* filter_censor(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Utf8 text;
    if (!text_argument(kCensorSignature, self, args, nargs, kwnames, text)) return nullptr;
    const Tarnwhisk& filter = filter_of(self);
    std::string censored;
    if (short_text(text)) {
      censored = filter.censor(text.view());
    } else {
      std::optional<std::string> done =
          long_answer([&](const Poll& poll) { return filter.censor(text.view(), poll); });
      if (!done) return nullptr;
      censored = std::move(*done);
    }
    return PyUnicode_FromStringAndSize(censored.data(), static_cast<Py_ssize_t>(censored.size()));
  });
}

PyObject* filter_contains_profanity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Utf8 text;
    if (!text_argument(kContainsSignature, self, args, nargs, kwnames, text)) return nullptr;
    const Tarnwhisk& filter = filter_of(self);
    bool found;
    if (short_text(text)) {
      found = filter.contains_profanity(text.view());
    } else {
      const std::optional<bool> done =
          long_answer([&](const Poll& poll) { return filter.contains_profanity(text.view(), poll); });
      if (!done) return nullptr;
      found = *done;
    }
    PyObject* result = found ? Py_True : Py_False;
    Py_IncRef(result);
    return result;
  });
}

const Signature kFindTextSignature = {"Tarnwhisk", "find_text", kTextNames, 1, 1};

// The hits of find() in str terms: (start, end, matched, match) per hit, start and end
// code-point indices into `text` and matched == text[start:end]. find() itself stays
// as it was; the offsets are turned into indices here, in one walk over the UTF-8 text
// that stops at the last hit (none at all when the text is ASCII).
PyObject* filter_find_text(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Utf8 utf8;
    if (!text_argument(kFindTextSignature, self, args, nargs, kwnames, utf8)) return nullptr;
    // One argument was bound, by position or by keyword: either way it is args[0].
    PyObject* text = args[0];
    const std::string_view bytes = utf8.view();
    const std::vector<Match> hits = filter_of(self).find(bytes);
    std::vector<std::size_t> offsets;
    offsets.reserve(2 * hits.size());
    for (const Match& hit : hits) {
      offsets.push_back(hit.start);
      offsets.push_back(hit.end);
    }
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    const Py_ssize_t length = PyUnicode_GetLength(text);
    if (length < 0) return nullptr;
    std::vector<std::size_t> indices(offsets);  // ASCII: an index is its byte offset
    if (static_cast<std::size_t>(length) != bytes.size()) {
      std::size_t at = 0, count = 0;
      for (std::size_t k = 0; k < offsets.size(); ++k) {
        for (; at < offsets[k] && at < bytes.size(); ++at) {
          count += (static_cast<unsigned char>(bytes[at]) & 0xC0) != 0x80;  // not a continuation byte
        }
        indices[k] = count;
      }
    }
    const auto index_of = [&](std::size_t offset) {
      const auto k = std::lower_bound(offsets.begin(), offsets.end(), offset) - offsets.begin();
      return static_cast<Py_ssize_t>(indices[static_cast<std::size_t>(k)]);
    };
    Ref list(PyList_New(static_cast<Py_ssize_t>(hits.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < hits.size(); ++i) {
      const Py_ssize_t start = index_of(hits[i].start), end = index_of(hits[i].end);
      Ref start_obj(PyLong_FromSsize_t(start)), end_obj(PyLong_FromSsize_t(end));
      Ref matched(PyUnicode_Substring(text, start, end));
      Ref match(new_match(hits[i]));
      if (!start_obj || !end_obj || !matched || !match) return nullptr;
      PyObject* item = PyTuple_Pack(4, start_obj.get(), end_obj.get(), matched.get(), match.get());
      if (!item || PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item) < 0) return nullptr;
    }
    return list.release();
  });
}

// The batch methods: `texts` by position or keyword, `workers` by keyword only.
const char* const kBatchNames[] = {"texts", "workers"};
const Signature kFindBatchSignature = {"Tarnwhisk", "find_batch", kBatchNames, 2, 1, 1};
const Signature kCensorBatchSignature = {"Tarnwhisk", "censor_batch", kBatchNames, 2, 1, 1};
const Signature kContainsBatchSignature = {"Tarnwhisk", "contains_profanity_batch", kBatchNames, 2, 1, 1};

PyObject* batch_method(BatchCall call, const Signature& sig, PyObject* self, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
    PyTypeObject* type = filter_type();
    if (!type) return nullptr;
    if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
      raise_cannot_convert(self, "Tarnwhisk");
      return nullptr;
    }
    return call_batch(call, filter_of(self), bound[0], bound[1]);
  });
}

PyObject* filter_find_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_method(BatchCall::Find, kFindBatchSignature, self, args, nargs, kwnames);
}

PyObject* filter_censor_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_method(BatchCall::Censor, kCensorBatchSignature, self, args, nargs, kwnames);
}

PyObject* filter_contains_profanity_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  return batch_method(BatchCall::ContainsProfanity, kContainsBatchSignature, self, args, nargs, kwnames);
}

const char* const kStreamNames[] = {"censor"};
const Signature kStreamSignature = {"Tarnwhisk", "stream", kStreamNames, 1, 0, 0};

// stream(*, censor=True): a TextStream through this filter.
PyObject* filter_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* censor_arg = nullptr;
    if (!bind_arguments(kStreamSignature, args, nargs, kwnames, &censor_arg)) return nullptr;
    PyTypeObject* type = filter_type();
    if (!type) return nullptr;
    if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
      raise_cannot_convert(self, "Tarnwhisk");
      return nullptr;
    }
    bool censor = true;
    if (censor_arg && !to_bool(censor_arg, censor)) {
      argument_error("censor");
      return nullptr;
    }
    return new_stream(self, filter_of(self), censor);
  });
}

const char* const kWordNames[] = {"word_id"};
const Signature kWordSignature = {"Tarnwhisk", "word", kWordNames, 1, 1};

// word(word_id): the text of the entry that a Match's word_id names, as it was listed
// (built in, or given in add_words), so that a hit can be reported by its word.
PyObject* filter_word(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* id_arg = nullptr;
    if (!bind_arguments(kWordSignature, args, nargs, kwnames, &id_arg)) return nullptr;
    PyTypeObject* type = filter_type();
    if (!type) return nullptr;
    if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
      raise_cannot_convert(self, "Tarnwhisk");
      return nullptr;
    }
    Ref index(PyNumber_Index(id_arg));
    if (!index) {
      argument_error("word_id");
      return nullptr;
    }
    const std::vector<WordEntry>& entries = filter_of(self).matcher().entries();
    const std::size_t id = PyLong_AsSize_t(index.get());
    if (PyErr_Occurred() || id >= entries.size()) {
      PyErr_Clear();
      PyErr_Format(PyExc_IndexError, "word_id %R is not an entry of this filter (it has %zu)", index.get(),
                   entries.size());
      return nullptr;
    }
    const std::string& word = entries[id].word;
    return PyUnicode_DecodeUTF8(word.data(), static_cast<Py_ssize_t>(word.size()), "replace");
  });
}

template <class F>
PyCFunction method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// Each method carries only its text signature, so __doc__ is None: deliberate, pinned by
// test_module.py's test_method_signatures (find_text alone is documented).
PyMethodDef kMethods[] = {
    {"find", method(filter_find), METH_FASTCALL | METH_KEYWORDS, "find($self, text)\n--\n\n"},
    {"censor", method(filter_censor), METH_FASTCALL | METH_KEYWORDS, "censor($self, text)\n--\n\n"},
    {"contains_profanity", method(filter_contains_profanity), METH_FASTCALL | METH_KEYWORDS,
     "contains_profanity($self, text)\n--\n\n"},
    {"find_text", method(filter_find_text), METH_FASTCALL | METH_KEYWORDS,
     "find_text($self, text)\n--\n\n"
     "The hits of find() as (start, end, matched, match) tuples: str indices, so that\n"
     "text[start:end] == matched, and the Match with its byte offsets."},
    {"find_batch", method(filter_find_batch), METH_FASTCALL | METH_KEYWORDS,
     "find_batch($self, texts, *, workers=1)\n--\n\n"},
    {"censor_batch", method(filter_censor_batch), METH_FASTCALL | METH_KEYWORDS,
     "censor_batch($self, texts, *, workers=1)\n--\n\n"},
    {"contains_profanity_batch", method(filter_contains_profanity_batch), METH_FASTCALL | METH_KEYWORDS,
     "contains_profanity_batch($self, texts, *, workers=1)\n--\n\n"},
    {"word", method(filter_word), METH_FASTCALL | METH_KEYWORDS,
     "word($self, word_id)\n--\n\n"
     "The listed word that a Match's word_id names (IndexError for an id this filter\n"
     "does not have)."},
    {"stream", method(filter_stream), METH_FASTCALL | METH_KEYWORDS,
     "stream($self, *, censor=True)\n--\n\n"
     "A TextStream through this filter, for one text given in chunks. censor=False\n"
     "reports hits only and keeps no source for the censored text."},
    {nullptr, nullptr, 0, nullptr},
};

const char kDoc[] =
    "Tarnwhisk(options=None)\n"
    "--\n"
    "\n"
    "Main filter. Construct once, reuse.\n"
    "\n"
    "Options (keyword-only, all optional):\n"
    "  languages:        list[str]   e.g. ['en', 'es']\n"
    "  normalization:    str         'none' | 'basic' | 'aggressive' | 'thorough'\n"
    "  match_mode:       str         'word_boundary' | 'substring'\n"
    "  censor_style:     str         'length_preserving' | 'first_last' | 'full_mask' | 'grawlix'\n"
    "  mask_char:        str         single character\n"
    "  add_words:        list[dict]  [{'word': ..., 'category': ..., 'severity': int, 'strict': bool}]\n"
    "  remove_words:     list[str]\n"
    "  allowlist:        list[str]\n"
    "  without_bundled:  bool";

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(filter_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(filter_dealloc)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

// No base-type flag (no subclassing), no dictionary, no weak-reference slot. The name
// without a module of its own reports "builtins": deliberate, the face test_module.py's
// test_class_names and test_no_subclassing pin.
PyType_Spec kSpec = {"builtins.Tarnwhisk", sizeof(FilterObject), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* filter_type() {
  static PyObject* type = nullptr;
  if (!type) type = PyType_FromSpec(&kSpec);
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace tarnwhisk::py
