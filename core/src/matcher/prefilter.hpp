// Skips text where no pattern can start. The automaton reads every byte through a chain
// of dependent loads; when all patterns begin with one of at most three byte values, a
// vector search for those bytes jumps over everything else many times faster. With a
// word list of hundreds of entries nearly every letter begins some pattern: measured,
// hashed start-window filters then lost to the plain automaton, so the filter stays off
// and the automaton runs alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "simd.hpp"
#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

namespace tarnwhisk {

class Prefilter {
 public:
  // Prepares the filter for `patterns` (empty ones are ignored): active when the
  // non-empty patterns start with one to three distinct bytes.
  void build(const std::vector<std::string>& patterns);

  bool active() const noexcept { return count_ > 0; }

  // The first position at or after `i` that holds one of the start bytes, or n. Never
  // passes an occurrence. Only valid when active().
  std::size_t next(const unsigned char* text, std::size_t n, std::size_t i) const noexcept {
#if TARNWHISK_SSE2
    const __m128i b0 = _mm_set1_epi8(static_cast<char>(bytes_[0]));
    const __m128i b1 = _mm_set1_epi8(static_cast<char>(bytes_[1]));
    const __m128i b2 = _mm_set1_epi8(static_cast<char>(bytes_[2]));
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      const __m128i eq = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(v, b1)),
                                      _mm_cmpeq_epi8(v, b2));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(eq));
      if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; i < n; ++i)
      if (text[i] == bytes_[0] || text[i] == bytes_[1] || text[i] == bytes_[2]) return i;
    return n;
  }

 private:
  // The start bytes; unused slots repeat the first one.
  unsigned char bytes_[3] = {0, 0, 0};
  unsigned count_ = 0;
};

}  // namespace tarnwhisk
