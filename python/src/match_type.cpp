// The Match type: one hit of find(), an immutable value made only by the filter. Its
// positions are kept whole (64-bit), so that texts of 4 GiB and more report true
// offsets.
#include <type_traits>

#include "binding.hpp"

namespace tarnwhisk::py {

namespace {

// Plain data only, so that making and freeing a Match runs no C++ constructor or
// destructor: find() makes one per hit.
struct MatchFields {
  std::uint64_t word_id;
  std::uint64_t start;
  std::uint64_t end;
  std::uint64_t normalized_start;
  std::uint64_t normalized_end;
  Category category;
  std::uint32_t severity;
};
static_assert(std::is_trivially_destructible_v<MatchFields>);

struct MatchObject {
  PyObject_HEAD
  alignas(MatchFields) unsigned char storage[sizeof(MatchFields)];
};

MatchFields& fields(PyObject* self) {
  return *std::launder(reinterpret_cast<MatchFields*>(reinterpret_cast<MatchObject*>(self)->storage));
}

PyObject* match_new(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

void match_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);  // made by PyObject_Malloc in new_match
  // Instances of heap types hold a reference to their type.
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

PyObject* match_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const MatchFields& f = fields(self);
    const std::string category(category_name(f.category));
    return PyUnicode_FromFormat("Match(start=%llu, end=%llu, category='%s', severity=%u)",
                                static_cast<unsigned long long>(f.start),
                                static_cast<unsigned long long>(f.end), category.c_str(),
                                static_cast<unsigned int>(f.severity));
  });
}

template <std::uint64_t MatchFields::*Field>
PyObject* get_position(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(fields(self).*Field);
}

PyObject* get_category(PyObject* self, void*) {
  const std::string_view c = category_name(fields(self).category);
  return PyUnicode_FromStringAndSize(c.data(), static_cast<Py_ssize_t>(c.size()));
}

PyObject* get_severity(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(fields(self).severity);
}

PyGetSetDef kGetters[] = {
    {"word_id", get_position<&MatchFields::word_id>, nullptr, "", nullptr},
    {"start", get_position<&MatchFields::start>, nullptr, "", nullptr},
    {"end", get_position<&MatchFields::end>, nullptr, "", nullptr},
    {"normalized_start", get_position<&MatchFields::normalized_start>, nullptr, "", nullptr},
    {"normalized_end", get_position<&MatchFields::normalized_end>, nullptr, "", nullptr},
    {"category", get_category, nullptr, "", nullptr},
    {"severity", get_severity, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Result of `find()` \xE2\x80\x94 one entry per profanity hit.")},
    {Py_tp_new, reinterpret_cast<void*>(match_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(match_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(match_repr)},
    {Py_tp_getset, kGetters},
    {0, nullptr},
};

// No base-type flag (no subclassing), no dictionary, no weak-reference slot. The name
// without a module of its own reports "builtins".
PyType_Spec kSpec = {"builtins.Match", sizeof(MatchObject), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* match_type() {
  static PyObject* type = nullptr;
  if (!type) type = PyType_FromSpec(&kSpec);
  return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* new_match(const Match& hit) {
  PyTypeObject* type = match_type();
  if (!type) return nullptr;
  // The type has no garbage-collector support and no variable part, so the object is
  // plain memory from the object allocator, initialised without the zero-fill of the
  // generic allocation slot (the fields are all written below). PyObject_Init takes the
  // reference to the type that match_dealloc gives back.
  PyObject* self = static_cast<PyObject*>(PyObject_Malloc(sizeof(MatchObject)));
  if (!self) return PyErr_NoMemory();
  PyObject_Init(self, type);
  new (reinterpret_cast<MatchObject*>(self)->storage) MatchFields{
      hit.word_id, hit.start, hit.end, hit.normalized_start, hit.normalized_end, hit.category, hit.severity};
  return self;
}

}  // namespace tarnwhisk::py
