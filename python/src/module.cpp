// Module initialisation: thin glue that makes the module object and registers the four
// classes in it, once per process, with the version and the private reconstructor of
// Match objects that pickles refer to.
#include <algorithm>
#include <limits>

#include "binding.hpp"

#ifndef TARNWHISK_VERSION
#error "the build defines TARNWHISK_VERSION (the project() version of CMakeLists.txt)"
#endif

namespace tarnwhisk::py {

namespace {

// A whole number from 0 to `max`: TypeError for what is not an integer, OverflowError
// outside the range, each naming the parameter.
bool to_bounded(PyObject* obj, const char* name, unsigned long long max, unsigned long long& out) {
  Ref index(PyNumber_Index(obj));
  if (!index) return argument_error(name);
  out = PyLong_AsUnsignedLongLong(index.get());
  if (PyErr_Occurred() || out > max) {
    PyErr_Clear();
    PyErr_Format(PyExc_OverflowError, "argument '%s': %R is not in the range 0 to %llu", name,
                 index.get(), max);
    return false;
  }
  return true;
}

const char* const kMatchFieldNames[] = {"word_id", "start", "end", "normalized_start",
                                        "normalized_end", "category", "severity"};
const Signature kMatchSignature = {"tarnwhisk", "_match", kMatchFieldNames, 7, 7};

// tarnwhisk._match(word_id, start, end, normalized_start, normalized_end, category,
// severity): the Match that Match.__reduce__ describes. A pickle is data from outside,
// so every value is checked as the filter would have made it: spans that do not run
// backwards, a category name, a severity of one byte.
PyObject* module_match(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* given[7];
    if (!bind_arguments(kMatchSignature, args, nargs, kwnames, given)) return nullptr;
    constexpr auto kWhole = std::numeric_limits<unsigned long long>::max();
    unsigned long long numbers[5];
    for (int i = 0; i < 5; ++i) {
      if (!to_bounded(given[i], kMatchFieldNames[i], kWhole, numbers[i])) return nullptr;
    }
    unsigned long long severity = 0;
    if (!to_bounded(given[6], "severity", 255, severity)) return nullptr;
    std::string category;
    if (!to_string(given[5], category)) {
      argument_error("category");
      return nullptr;
    }
    const auto known = std::find(kCategoryNames.begin(), kCategoryNames.end(), category);
    if (known == kCategoryNames.end()) {
      PyErr_Format(PyExc_ValueError, "argument 'category': unknown category %R", given[5]);
      return nullptr;
    }
    Match hit;
    hit.word_id = numbers[0];
    hit.start = numbers[1];
    hit.end = numbers[2];
    hit.normalized_start = numbers[3];
    hit.normalized_end = numbers[4];
    hit.category = static_cast<Category>(known - kCategoryNames.begin());
    hit.severity = static_cast<std::uint8_t>(severity);
    if (hit.start > hit.end || hit.normalized_start > hit.normalized_end) {
      PyErr_SetString(PyExc_ValueError, "a Match span cannot end before it starts");
      return nullptr;
    }
    return new_match(hit);
  });
}

PyMethodDef kFunctions[] = {
    {"_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_match)),
     METH_FASTCALL | METH_KEYWORDS,
     "_match($module, word_id, start, end, normalized_start, normalized_end, category, severity)\n"
     "--\n\n"
     "Rebuilds a Match from its fields; what pickle and copy call. Not part of the API."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tarnwhisk",  // name
    "",           // docstring: empty on purpose, as test_module.py's
                  // test_module_attributes pins (the classes carry the documentation)
    0,            // no per-module state
    kFunctions,   // the private reconstructor only
    nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to the module's __all__ (made on first use), then sets the attribute.
bool add_class(PyObject* module, const char* name, PyTypeObject* type) {
  if (!type) return false;
  Ref all_name(PyUnicode_FromString("__all__"));
  Ref attr_name(PyUnicode_FromString(name));
  if (!all_name || !attr_name) return false;
  Ref all(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all.reset(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name.get(), all.get()) < 0) return false;
  }
  if (PyList_Append(all.get(), attr_name.get()) < 0) return false;
  return PyObject_SetAttr(module, attr_name.get(), reinterpret_cast<PyObject*>(type)) == 0;
}

bool initialised = false;

}  // namespace

PyObject* init_module() {
  return guarded([]() -> PyObject* {
    // Deliberately once per process, pinned by test_module.py's
    // test_second_initialisation_raises_import_error: the type objects live for the
    // whole process and the module keeps no state of its own, so a second module object
    // would be a second owner of the same classes.
    if (initialised) {
      PyErr_SetString(PyExc_ImportError,
                      "tarnwhisk may only be initialized once per interpreter process");
      return nullptr;
    }
    initialised = true;
    Ref module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    if (!add_class(module.get(), "Tarnwhisk", filter_type())) return nullptr;
    if (!add_class(module.get(), "Match", match_type())) return nullptr;
    if (!add_class(module.get(), "ArrowColumn", column_type())) return nullptr;
    if (!add_class(module.get(), "TextStream", stream_type())) return nullptr;
    if (PyModule_AddStringConstant(module.get(), "__version__", TARNWHISK_VERSION) < 0) return nullptr;
    return module.release();
  });
}

}  // namespace tarnwhisk::py

PyMODINIT_FUNC PyInit_tarnwhisk(void) { return tarnwhisk::py::init_module(); }
