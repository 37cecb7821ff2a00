// Module initialisation: thin glue that makes the module object and registers the three
// classes in it, once per process.
#include "binding.hpp"

namespace tarnwhisk::py {

namespace {

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tarnwhisk",  // name
    "",           // docstring
    0,            // no per-module state
    nullptr,      // no module-level functions
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
    // The type objects live for the whole process and the module keeps no state of its
    // own, so a second module object would be a second owner of the same classes.
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
    return module.release();
  });
}

}  // namespace tarnwhisk::py

PyMODINIT_FUNC PyInit_tarnwhisk(void) { return tarnwhisk::py::init_module(); }
