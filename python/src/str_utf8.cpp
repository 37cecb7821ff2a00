// From str to the UTF-8 the core reads: an ASCII str's own storage where it lies, any
// other str encoded into a buffer of the call (never the interpreter's cached UTF-8 copy,
// which would stay in the caller's str for its lifetime).
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "simd.hpp"
#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

#include "binding.hpp"
#include "utf8.hpp"

namespace tarnwhisk::py {

// Code points that a long text is encoded in at a time: small enough that each piece's
// intermediate forms stay in the processor's cache.
constexpr Py_ssize_t kEncodePiece = 1 << 14;
// Texts up to this many code points are widened on the stack.
constexpr Py_ssize_t kStackPiece = 256;

namespace {

// Appends the UTF-8 form of in[0, n) at `out`, which has room for 4 * n bytes. Returns
// the end of what was written, or nullptr at a surrogate, which has no UTF-8 form.
char* encode_points(const Py_UCS4* in, std::size_t n, char* out) noexcept {
  std::size_t i = 0;
  while (i < n) {
    // Texts are mostly ASCII: test a run of characters at once and narrow them.
#if TARNWHISK_SSE2
    const __m128i high = _mm_set1_epi32(~0x7F);
    while (i + 16 <= n) {
      const auto* p = reinterpret_cast<const __m128i*>(in + i);
      const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
      const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
      const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, high), _mm_setzero_si128())) != 0xFFFF)
        break;
      // Values below 0x80 pass both saturating packs unchanged.
      const __m128i narrow = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), narrow);
      out += 16;
      i += 16;
    }
#endif
    while (i + 8 <= n) {
      Py_UCS4 any = 0;
      for (int k = 0; k < 8; ++k) any |= in[i + k];
      if (any >= 0x80) break;
      for (int k = 0; k < 8; ++k) out[k] = static_cast<char>(in[i + k]);
      out += 8;
      i += 8;
    }
    if (i >= n) break;
    const Py_UCS4 c = in[i++];
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
    } else {
      if (c >= 0xD800 && c <= 0xDFFF) return nullptr;
      out = utf8::put(c, out);
    }
  }
  return out;
}

// str.isascii's own C function, taken once from a bound method of a str, so that the
// question costs a plain call instead of a method call through the interpreter (it is
// asked for every text). Null when the interpreter's str.isascii is not a plain C method
// without arguments; then the method is called.
PyCFunction isascii_function() {
  static PyCFunction function = nullptr;
  static bool looked = false;
  if (!looked) {
    looked = true;
    Ref probe(PyUnicode_FromString("x"));
    Ref bound(probe ? PyObject_GetAttrString(probe.get(), "isascii") : nullptr);
    if (bound && PyCFunction_Check(bound.get()) &&
        (PyCFunction_GetFlags(bound.get()) & (METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O |
                                              METH_FASTCALL)) == METH_NOARGS) {
      function = PyCFunction_GetFunction(bound.get());
    }
    PyErr_Clear();
  }
  return function;
}

// A first guess at the UTF-8 size of a long text of `length` code points, mostly ASCII.
constexpr std::size_t initial_estimate(Py_ssize_t length) {
  return static_cast<std::size_t>(length) + static_cast<std::size_t>(length) / 16 + 64;
}

// The interpreter's encoder raises its own UnicodeEncodeError for the surrogate that
// ours stopped at.
bool raise_surrogate_error(PyObject* obj) {
  Ref failed(PyUnicode_AsUTF8String(obj));
  if (!failed) return false;
  PyErr_SetString(PyExc_SystemError, "tarnwhisk internal error: surrogate not refused");
  return false;
}

// Whether the str `obj` holds only ASCII. -1 on error.
int is_ascii(PyObject* obj) {
  if (PyCFunction function = isascii_function()) {
    PyObject* answer = function(obj, nullptr);  // a bool singleton, never an error
    if (!answer) return -1;
    const int truth = answer == Py_True;
    Py_DecRef(answer);
    return truth;
  }
  static PyObject* method = nullptr;
  if (!method) {
    method = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "isascii");
    if (!method) return -1;
  }
  Ref answer(PyObject_CallFunctionObjArgs(method, obj, nullptr));
  if (!answer) return -1;
  return PyObject_IsTrue(answer.get());
}

}  // namespace

bool ByteBuffer::reserve_more(std::size_t extra) {
  if (size_ + extra <= capacity_) return true;
  // Grows by half at least, so that appending many texts costs amortised constant time.
  const std::size_t grown = std::max(size_ + extra, capacity_ + capacity_ / 2);
  char* p = static_cast<char*>(std::realloc(data_.get(), grown));
  if (!p) {
    PyErr_NoMemory();
    return false;
  }
  (void)data_.release();
  data_.reset(p);
  capacity_ = grown;
  return true;
}

int ascii_view(PyObject* obj, std::string_view& out) {
  const int ascii = is_ascii(obj);
  if (ascii <= 0) return ascii;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!data) return -1;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return 1;
}

bool encode_utf8(PyObject* obj, ByteBuffer& out) {
  const Py_ssize_t length = PyUnicode_GetLength(obj);
  if (length < 0) return false;
  if (length <= kStackPiece) {
    // A chat-sized text: its code points on the stack, its UTF-8 straight into `out`.
    Py_UCS4 points[kStackPiece];
    if (length > 0 && !PyUnicode_AsUCS4(obj, points, kStackPiece, 0)) return false;
    if (!out.reserve_more(4 * static_cast<std::size_t>(length))) return false;
    char* end = encode_points(points, static_cast<std::size_t>(length), out.data() + out.size());
    if (!end) return raise_surrogate_error(obj);
    out.grow_by(static_cast<std::size_t>(end - (out.data() + out.size())));
    return true;
  }
  // Piece by piece: a slice (the interpreter's own copy in its narrowest form), its
  // code points, their UTF-8. The interpreter's encoder walks a mostly-ASCII text
  // character by character; this takes its ASCII runs eight characters at a time.
  std::unique_ptr<Py_UCS4[]> points(new Py_UCS4[static_cast<std::size_t>(std::min(kEncodePiece, length))]);
  if (!out.reserve_more(initial_estimate(length))) return false;
  for (Py_ssize_t at = 0; at < length; at += kEncodePiece) {
    const Py_ssize_t count = std::min(kEncodePiece, length - at);
    Ref piece(count == length ? Ref::borrow(obj) : Ref(PyUnicode_Substring(obj, at, at + count)));
    if (!piece) return false;
    if (!PyUnicode_AsUCS4(piece.get(), points.get(), count, 0)) return false;
    if (!out.reserve_more(4 * static_cast<std::size_t>(count))) return false;
    char* end = encode_points(points.get(), static_cast<std::size_t>(count), out.data() + out.size());
    if (!end) return raise_surrogate_error(obj);
    out.grow_by(static_cast<std::size_t>(end - (out.data() + out.size())));
  }
  return true;
}

bool to_utf8(PyObject* obj, Utf8& out) {
  if (!is_str(obj)) {
    raise_cannot_convert(obj, "PyString");
    return false;
  }
  out.owned_.reset();
  // An ASCII str's storage is its UTF-8 form: borrowed, no copy and nothing cached.
  // Any other str is encoded into a buffer of the call's own: asking the interpreter
  // for its UTF-8 form would leave a copy cached in the caller's str for its lifetime.
  const int ascii = ascii_view(obj, out.view_);
  if (ascii != 0) return ascii > 0;
  ByteBuffer buffer;
  if (!encode_utf8(obj, buffer)) return false;
  const std::size_t used = buffer.size();
  out.owned_ = buffer.release();
  out.view_ = std::string_view(out.owned_.get(), used);
  return true;
}

bool to_string(PyObject* obj, std::string& out) {
  Utf8 utf8;
  if (!to_utf8(obj, utf8)) return false;
  out.assign(utf8.view());
  return true;
}

}  // namespace tarnwhisk::py
