// The Match type: one hit of find(), an immutable value made only by the filter. Its
// positions are kept whole (64-bit), so that texts of 4 GiB and more report true
// offsets. Being a value, it compares and hashes by its fields, and it pickles and
// copies through the module's private reconstructor `_match` (module.cpp), so that
// results can cross process boundaries and be stored.
#include <iterator>
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

bool same_fields(const MatchFields& a, const MatchFields& b) noexcept {
  return a.word_id == b.word_id && a.start == b.start && a.end == b.end &&
         a.normalized_start == b.normalized_start && a.normalized_end == b.normalized_end &&
         a.category == b.category && a.severity == b.severity;
}

// Equality by value; any other comparison, or one with another type, is left to the
// other operand (and so ends in identity or a TypeError, as for plain objects).
PyObject* match_richcompare(PyObject* self, PyObject* other, int op) {
  PyObject* answer = Py_NotImplemented;
  if ((op == Py_EQ || op == Py_NE) && Py_TYPE(self) == Py_TYPE(other)) {
    const bool equal = same_fields(fields(self), fields(other));
    answer = equal == (op == Py_EQ) ? Py_True : Py_False;
  }
  Py_IncRef(answer);
  return answer;
}

// The seven fields mixed as the interpreter mixes the items of a tuple (xxHash's
// rounds), so that matches that differ in one field spread over the table.
Py_hash_t match_hash(PyObject* self) {
  const MatchFields& f = fields(self);
  const std::uint64_t lanes[] = {f.word_id, f.start, f.end, f.normalized_start, f.normalized_end,
                                 static_cast<std::uint64_t>(f.category), f.severity};
  constexpr std::uint64_t kPrime1 = 11400714785074694791ULL;
  constexpr std::uint64_t kPrime2 = 14029467366897019727ULL;
  constexpr std::uint64_t kPrime5 = 2870177450012600261ULL;
  std::uint64_t acc = kPrime5;
  for (const std::uint64_t lane : lanes) {
    acc += lane * kPrime2;
    acc = (acc << 31) | (acc >> 33);
    acc *= kPrime1;
  }
  acc += std::size(lanes) ^ (kPrime5 ^ 3527539ULL);
  const auto hash = static_cast<Py_hash_t>(acc);
  return hash == -1 ? 1546275796 : hash;  // -1 means "error" to the interpreter
}

// The module's reconstructor, looked up once: pickles name it by module and name.
PyObject* reconstructor() {
  static PyObject* function = nullptr;
  if (!function) {
    Ref module(PyImport_ImportModule("tarnwhisk"));
    if (!module) return nullptr;
    function = PyObject_GetAttrString(module.get(), "_match");
  }
  return function;
}

// (tarnwhisk._match, (word_id, start, end, normalized_start, normalized_end, category,
// severity)): the category travels by name, so a pickle does not depend on the
// numbering of the enumeration.
PyObject* match_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    PyObject* function = reconstructor();
    if (!function) return nullptr;
    const MatchFields& f = fields(self);
    const std::string_view c = category_name(f.category);
    Ref values[] = {
        Ref(PyLong_FromUnsignedLongLong(f.word_id)),
        Ref(PyLong_FromUnsignedLongLong(f.start)),
        Ref(PyLong_FromUnsignedLongLong(f.end)),
        Ref(PyLong_FromUnsignedLongLong(f.normalized_start)),
        Ref(PyLong_FromUnsignedLongLong(f.normalized_end)),
        Ref(PyUnicode_FromStringAndSize(c.data(), static_cast<Py_ssize_t>(c.size()))),
        Ref(PyLong_FromUnsignedLong(f.severity)),
    };
    for (const Ref& value : values) {
      if (!value) return nullptr;
    }
    Ref args(PyTuple_Pack(7, values[0].get(), values[1].get(), values[2].get(), values[3].get(),
                          values[4].get(), values[5].get(), values[6].get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, function, args.get());
  });
}

PyMethodDef kMethods[] = {
    {"__reduce__", match_reduce, METH_NOARGS, "Pickling and copying support."},
    {nullptr, nullptr, 0, nullptr},
};

// The fields' docstrings are empty on purpose (test_module.py's
// test_match_descriptors_have_empty_doc): the class docstring and the README say what
// they hold.
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
    {Py_tp_richcompare, reinterpret_cast<void*>(match_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(match_hash)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetters},
    {0, nullptr},
};

// No base-type flag (no subclassing), no dictionary, no weak-reference slot. The name
// without a module of its own reports "builtins": deliberate, the face test_module.py's
// test_class_names and test_no_subclassing pin.
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
