// The writer's quick road for ASCII prose: 16 bytes at a time with SSE2 while no single
// letter waits for company (see thorough_writer.cpp for the rest of the writer).
#include "simd.hpp"

#if TARNWHISK_SSE2
#include <emmintrin.h>

#include <cstring>

#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "normalize/thorough_detail.hpp"

namespace tarnwhisk::thorough {

namespace {

// For 16 folded ASCII bytes without "|": a bit for each separator.
inline unsigned separators16(__m128i f) noexcept {
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(f, _mm_set1_epi8(c)); };
  const auto in = [&](char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(f, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(f, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const __m128i s = _mm_or_si128(_mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), _mm_or_si128(eq('*'), in(',', '/'))),
                                 _mm_or_si128(_mm_or_si128(in(':', ';'), eq('\\')), _mm_or_si128(eq('_'), eq('~'))));
  return static_cast<unsigned>(_mm_movemask_epi8(s));
}

// Whether any of 16 ASCII bytes folds to something other than its lower case: digits,
// and "! $ @ | + # %", and the mask "*", whose run may end a word. Such blocks go the
// character road.
inline bool has_special16(__m128i b) noexcept {
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  const auto in = [&](char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(b, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(b, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const __m128i s = _mm_or_si128(_mm_or_si128(in('0', '9'), in('#', '%')),
                                 _mm_or_si128(_mm_or_si128(eq('!'), eq('@')), _mm_or_si128(eq('|'), _mm_or_si128(eq('+'), eq('*')))));
  return _mm_movemask_epi8(s) != 0;
}

}  // namespace

// Whole blocks of 16 ASCII bytes from src[i, n) while the writer is quiet (no single
// letter waits, no chain is open, no token right after masks is open, whose end must
// clear that state, the last character is no code that a letter could take the place of
// nor a letter right after one, "@4" + "4") and the block keeps it so: no byte folds
// specially, and no single letter may start a chain. Every byte becomes its lower case
// with the identity entry, but for a byte equal to the one before, which merges into
// that one's character. Returns where it stopped.
std::size_t Writer::ascii_blocks(const char* src, std::size_t i, std::size_t n, std::size_t base) {
  if (after_single_ || masked_tail_ || gap_.chars != kNone || chain_ != 0 || is_upper(last_) || i + 16 > n ||
      code_before_last())
    return i;
  const std::size_t start = i;
  char* t = t_;
  SourceRange* o = o_;
  unsigned tok = token_len_ >= 2 ? 2 : static_cast<unsigned>(token_len_);
  unsigned prev = last_ < 0x80 ? static_cast<unsigned>(last_) : 0x80;  // no ASCII byte is 0x80
  for (; i + 16 <= n; i += 16) {
    if (static_cast<std::size_t>(obuf_ + kStaging - o) < 16) {
      t_ = t, o_ = o;
      flush();
      t = t_, o = o_;
    }
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(b) != 0 || has_special16(b)) break;
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(b, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(b, _mm_set1_epi8('Z' + 1)));
    const __m128i f = _mm_add_epi8(b, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
    const auto letters = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpgt_epi8(f, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(f, _mm_set1_epi8('z' + 1)))));
    // A letter is single when neither neighbour is a letter (the letter before the block
    // too, when its token ends at lane 0). One that starts a token at the block's end is
    // left to what follows, as the character road would leave it. A single letter
    // changes nothing where what follows it, past separators, is a word of two letters or
    // more or a character of neither kind: no chain can start there. Where it is another
    // single letter, or lies past the block, the character road decides.
    const unsigned single = letters & ~((letters << 1) | (tok != 0 ? 1u : 0u)) & ~(letters >> 1) & 0x7FFF;
    const unsigned ended = tok == 1 && !(letters & 1) ? 1u : 0u;
    if ((single | ended) != 0) {
      const unsigned seps = separators16(f);
      const unsigned words = letters & (letters >> 1) & ~((letters << 1) | (tok != 0 ? 1u : 0u));
      const unsigned ends_chain = (~seps & ~letters & 0xFFFF) | words;
      // Adding a bit just after each single letter carries it over the run of
      // separators there, to the first character after them (bit 16: none).
      const unsigned after = (seps + ((single << 1) | ended)) & ~seps;
      if ((after & ~ends_chain) != 0) break;
    }
    // A byte equal to the one before it merges into that one's character.
    const __m128i back = _mm_or_si128(_mm_slli_si128(f, 1), _mm_cvtsi32_si128(static_cast<int>(prev)));
    const unsigned keep = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(f, back))) & 0xFFFF;
    if (keep == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), f);
      t += 16;
      __m128i e = _mm_set_epi64x(static_cast<long long>(base + i + 1), static_cast<long long>(base + i));
      for (int k = 0; k < 16; ++k, e = _mm_add_epi64(e, _mm_set1_epi64x(1)))
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k), e);
      std::memset(fbuf_ + (o - obuf_), 0, 16);
      o += 16;
    } else {
      const unsigned first = keep != 0 ? static_cast<unsigned>(__builtin_ctz(keep)) : 16;
      if (first != 0) {  // the block goes on with the last run
        SourceRange& e = o != obuf_ ? o[-1] : out_.offsets.back();
        std::uint8_t& fl = o != obuf_ ? fbuf_[o - obuf_ - 1] : out_.flags.back();
        e.end = base + i + first;
        fl = static_cast<std::uint8_t>(merged_flags(fl, 0) | kDoubled | ((fl & kDoubled) || first >= 2 ? kStretched : 0));
      }
      // The kept bytes and their lanes, moved together: each dropped lane, from the
      // last, lets the lanes above it down by one.
      const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
      __m128i text = f, at = lanes;
      int kept = 16;
      for (unsigned drop = ~keep & 0xFFFF; drop != 0; --kept) {
        const int z = 31 - __builtin_clz(drop);
        drop ^= 1u << z;
        const __m128i below = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(z)), lanes);
        text = _mm_or_si128(_mm_and_si128(below, text), _mm_andnot_si128(below, _mm_srli_si128(text, 1)));
        at = _mm_or_si128(_mm_and_si128(below, at), _mm_andnot_si128(below, _mm_srli_si128(at, 1)));
      }
      // A character ends where the next one starts; the last one at the block's end.
      // The lanes past the kept ones hold zeros.
      const __m128i end = _mm_or_si128(_mm_srli_si128(at, 1), _mm_and_si128(_mm_cmpgt_epi8(lanes, _mm_set1_epi8(static_cast<char>(kept - 2))),
                                                                            _mm_set1_epi8(16)));
      const __m128i len = _mm_sub_epi8(end, at);
      const __m128i flags = _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi8(len, _mm_set1_epi8(1)), _mm_set1_epi8(kDoubled)),
                                         _mm_and_si128(_mm_cmpgt_epi8(len, _mm_set1_epi8(2)), _mm_set1_epi8(kStretched)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), text);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(fbuf_ + (o - obuf_)), flags);
      // The entries: each (start, end) pair of bytes widened to two 64-bit numbers.
      const __m128i zero = _mm_setzero_si128();
      const __m128i from = _mm_set1_epi64x(static_cast<long long>(base + i));
      const __m128i pairs[2] = {_mm_unpacklo_epi8(at, end), _mm_unpackhi_epi8(at, end)};
      SourceRange* e = o;
      for (const __m128i p : pairs) {
        for (const __m128i w : {_mm_unpacklo_epi8(p, zero), _mm_unpackhi_epi8(p, zero)}) {
          for (const __m128i d : {_mm_unpacklo_epi16(w, zero), _mm_unpackhi_epi16(w, zero)}) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(e++), _mm_add_epi64(_mm_unpacklo_epi32(d, zero), from));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(e++), _mm_add_epi64(_mm_unpackhi_epi32(d, zero), from));
          }
        }
      }
      t += kept;
      o += kept;
    }
    prev = static_cast<unsigned>(_mm_extract_epi16(f, 7)) >> 8;
    tok = (letters & 0x8000) ? ((letters & 0x4000) ? 2 : 1) : 0;
    if (tok == 1) {
      token_first_ = {prev, {base + i + 15, base + i + 16}, 0};
      token_two_ = false;
    }
  }
  t_ = t, o_ = o;
  if (i != start) {
    last_ = prev;
    token_len_ = tok;
  }
  return i;
}
}  // namespace tarnwhisk::thorough
#endif
