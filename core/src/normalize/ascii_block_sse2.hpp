// The SSE2 ASCII kernels of the one-pass writer: 16 bytes at a time, for the blocks of
// ASCII in which collapse has nothing to do and no leetspeak symbol needs a flag, which
// is most of prose. Casefold is one add, the classes of ascii.hpp are a few compares
// (held equal to the table by static_asserts), and Basic writes long stretches straight
// into the result. Measured on prose (normalize_bench OnePass/prose_*): 1.4-1.65 GB/s at
// Basic and 0.65 GB/s at Aggressive, against 0.55 and 0.4-0.5 GB/s for the scalar
// kernel alone (TARNWHISK_SIMD=OFF), so about three times faster at Basic.
#pragma once

#include "simd.hpp"
#if TARNWHISK_SSE2

#include <emmintrin.h>

#include "ascii.hpp"
#include "normalize/fused_writer.hpp"

namespace tarnwhisk::fused {
// Internal linkage: this header belongs to fused.cpp alone, and a kernel called from
// one place is inlined there as when all of it was one file.
namespace {

// The classes of ascii.hpp as the SSE2 tests below find them: compares against single
// bytes and ranges. The static_asserts hold them equal to the table (or, for the bytes
// leetspeak may change, a cover of them: a block with one goes the table's way).
constexpr char kSymbolBytes[3] = {'!', '$', '@'};
constexpr char kSeparatorRange[2] = {',', '/'};  // , - . /
constexpr char kSeparatorBytes[8] = {' ', '\t', '*', ':', ';', '\\', '_', '|'};
constexpr bool one_of(const char* set, std::size_t n, char c) {
  for (std::size_t k = 0; k < n; ++k)
    if (set[k] == c) return true;
  return false;
}
static_assert(ascii::class_is(ascii::kSymbol, [](char c) { return one_of(kSymbolBytes, 3, c); }));
static_assert(ascii::class_is(ascii::kSeparator, [](char c) {
  return (c >= kSeparatorRange[0] && c <= kSeparatorRange[1]) || one_of(kSeparatorBytes, 8, c);
}));
static_assert([] {
  for (char32_t c = 0; c < 128; ++c) {
    // The leet test of fold16 covers every byte that leetspeak changes ...
    if (ascii::leet(c) != c && !ascii::is_digit(c) && !one_of(kSymbolBytes, 3, static_cast<char>(c))) return false;
    // ... its other road adds 0x20 to A to Z, which is all casefold does ...
    if (ascii::lower(c) != (ascii::is_upper(c) ? c + 0x20 : c)) return false;
    // ... and the letters of folded text are a to z.
    const char32_t f = static_cast<unsigned char>(ascii::kFold[c]);
    if (ascii::is_letter(f) != ascii::is_lower(f)) return false;
  }
  return true;
}());

// Whether any of 16 ASCII bytes is a symbol that leetspeak folds: such blocks go the
// character-by-character way, which flags them.
inline bool has_symbol16(__m128i b) noexcept {
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  const __m128i s = _mm_or_si128(_mm_or_si128(eq(kSymbolBytes[0]), eq(kSymbolBytes[1])), eq(kSymbolBytes[2]));
  return _mm_movemask_epi8(s) != 0;
}

// For 16 ASCII bytes: the bytes that casefold and leetspeak make of them.
inline __m128i fold16(__m128i b, const char* src) noexcept {
  const auto in = [&](char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(b, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(b, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  const __m128i leet = _mm_or_si128(_mm_or_si128(in('0', '9'), eq(kSymbolBytes[0])),
                                    _mm_or_si128(eq(kSymbolBytes[1]), eq(kSymbolBytes[2])));
  if (_mm_movemask_epi8(leet) != 0) [[unlikely]] {
    alignas(16) char folded[16];
    for (int k = 0; k < 16; ++k) folded[k] = ascii::kFold[static_cast<unsigned char>(src[k])];
    return _mm_load_si128(reinterpret_cast<const __m128i*>(folded));
  }
  return _mm_add_epi8(b, _mm_and_si128(in('A', 'Z'), _mm_set1_epi8(0x20)));
}

// For 16 folded ASCII bytes: a bit for each byte that separators treats as a letter,
// and one for each separator.
inline unsigned letters16(__m128i f) noexcept {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
      _mm_cmpgt_epi8(f, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(f, _mm_set1_epi8('z' + 1)))));
}
inline unsigned separators16(__m128i f) noexcept {
  const auto eq = [&](int k) { return _mm_cmpeq_epi8(f, _mm_set1_epi8(kSeparatorBytes[k])); };
  const __m128i range = _mm_and_si128(_mm_cmpgt_epi8(f, _mm_set1_epi8(kSeparatorRange[0] - 1)),
                                      _mm_cmplt_epi8(f, _mm_set1_epi8(kSeparatorRange[1] + 1)));
  const __m128i s = _mm_or_si128(
      _mm_or_si128(_mm_or_si128(eq(0), range), _mm_or_si128(eq(1), eq(2))),
      _mm_or_si128(_mm_or_si128(eq(3), eq(4)), _mm_or_si128(_mm_or_si128(eq(5), eq(6)), eq(7))));
  return static_cast<unsigned>(_mm_movemask_epi8(s));
}

// The bits of the runs of set bits of `runs` whose first bit follows a set bit of
// `before` (for bit 0: if `carry_in`). Adding a run's first bit to the run carries
// through it and clears it.
inline unsigned runs_after(unsigned runs, unsigned before, bool carry_in) noexcept {
  const unsigned starts = runs & ~(runs << 1);
  const unsigned marked = starts & ((before << 1) | (carry_in ? 1u : 0u));
  return runs & ~(runs + marked);
}

// The 16 low bits of x in reverse order.
inline unsigned reverse16(unsigned x) noexcept {
  static constexpr auto kReversed = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned k = 0; k < 8; ++k)
        if (b & (1u << k)) t[b] |= static_cast<std::uint8_t>(0x80u >> k);
    return t;
  }();
  return static_cast<unsigned>(kReversed[x & 0xFF]) << 8 | kReversed[(x >> 8) & 0xFF];
}

// Whole blocks of 16 ASCII bytes from src[i, n) in which collapse has nothing to do
// (no byte is the third of a run) and no symbol needs a flag. Returns where it
// stopped: at the first block that is not one of these.
// (Stores of vectors may alias anything, so the loop keeps its state in locals.)
template <bool kAggressive>
inline std::size_t Writer<kAggressive>::push_blocks(std::size_t i, std::size_t n) {
  const char* const src = src_.data();
  // Short ASCII runs between other characters do not pay for the set-up.
  if (i + 16 > n || _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i))) != 0)
    return i;
  // The two characters before the block, in its last two lanes; a value no ASCII byte
  // has stands for none and for a character that cannot continue an ASCII run.
  const unsigned p1 = run_char_ < 0x80 ? run_char_ : 0x80;
  const unsigned p2 = run_len_ >= 2 ? p1 : 0x81;
  __m128i prev = _mm_insert_epi16(_mm_setzero_si128(), static_cast<int>(p2 | (p1 << 8)), 7);
  const std::size_t start = i;
  char* t = t_;
  SourceRange* o = o_;
  while (i + 16 <= n) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(b) != 0 || has_symbol16(b)) break;
    const __m128i f = fold16(b, src + i);
    const __m128i back1 = _mm_or_si128(_mm_slli_si128(f, 1), _mm_srli_si128(prev, 15));
    const __m128i back2 = _mm_or_si128(_mm_slli_si128(f, 2), _mm_srli_si128(prev, 14));
    if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(f, back1), _mm_cmpeq_epi8(f, back2))) != 0) break;
    if constexpr (kAggressive) {
      t_ = t, o_ = o;
      block_aggressive(f, i, letters16(f), separators16(f));
      t = t_, o = o_;
    } else {
      // Basic writes the blocks only when it has found where they end (below).
      if (i - start == kDirectSpan) break;
    }
    prev = f;
    i += 16;
  }
  t_ = t;
  o_ = o;
  if constexpr (!kAggressive) write_identity(start, i);
  if (i != start) {
    const auto last_two = static_cast<unsigned>(_mm_extract_epi16(prev, 7));
    run_char_ = last_two >> 8;
    run_len_ = (last_two >> 8) == (last_two & 0xFF) ? 2 : 1;
  }
  return i;
}

// Basic, for src[start, end), blocks that collapse leaves alone: every byte becomes
// its folded self with the entry (i, i + 1) and no flag. A long stretch goes to the
// result directly, its text copied and folded there and its entries made in place; a
// short one is staged.
template <bool kAggressive>
inline void Writer<kAggressive>::write_identity(std::size_t start, std::size_t end) {
  const char* const src = src_.data();
  if (end - start >= kDirectMin) {
    flush();
    const std::size_t at = out_.text.size();
    out_.text.append(src + start, end - start);
    char* t = out_.text.data() + at;
    for (std::size_t i = start; i < end; i += 16, t += 16) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), fold16(b, src + i));
    }
    out_.offsets.insert(out_.offsets.end(), IdentityEntries{base_ + start}, IdentityEntries{base_ + end});
    out_.flags.resize(out_.flags.size() + (end - start), 0);
    return;
  }
  for (std::size_t i = start; i < end; i += 16) {
    room(16);
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t_), fold16(b, src + i));
    t_ += 16;
    const __m128i base = _mm_set_epi64x(static_cast<long long>(base_ + i + 1), static_cast<long long>(base_ + i));
    SourceRange* const o = o_;
    for (int k = 0; k < 16; ++k)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k), _mm_add_epi64(base, _mm_set1_epi64x(k)));
    std::memset(fbuf_ + (o - obuf_), 0, 16);
    o_ = o + 16;
  }
}

// A block at byte i of the piece, with bit k of `letters` and `seps` set for a letter
// or a separator at i + k: writes every byte but the separators that stand between two
// letters, and takes back written separators that now do.
template <bool kAggressive>
inline void Writer<kAggressive>::block_aggressive(__m128i f, std::size_t i, unsigned letters, unsigned seps) {
  const bool after_letter = last_is_letter_ || pending_ != 0;
  const unsigned others = ~seps & 0xFFFF;  // letters and characters of neither class
  unsigned keep;
  if (others == 0) {  // separators only: the run goes on
    if (after_letter) pending_ += 16;
    keep = 0xFFFF;
  } else if ((letters | seps) == 0xFFFF) {
    // Letters and separators only, as in most prose: every run of separators between
    // the first and the last letter goes, and one before the first if it continues a
    // run that follows a letter.
    const unsigned first = static_cast<unsigned>(__builtin_ctz(letters));
    const unsigned last = 31u - static_cast<unsigned>(__builtin_clz(letters));
    keep = letters | (0xFFFFu & ~((2u << last) - 1)) | (after_letter ? 0 : (1u << first) - 1);
    if (pending_ != 0) take_back_separators();
    pending_ = 15 - last;
  } else {
    // Separators in runs that follow a letter (the first run may continue one written
    // before the block), and in runs that a letter in the block follows.
    const unsigned follow = runs_after(seps, letters, after_letter);
    const unsigned precede = reverse16(runs_after(reverse16(seps), reverse16(letters), false));
    keep = 0xFFFF & ~(follow & precede);
    // The written separators stand between two letters if the block's first
    // character that is not a separator is a letter.
    if (pending_ != 0 && (letters & others & (0u - others)) != 0) take_back_separators();
    // A run of separators that reaches the block's end waits for what follows it.
    const unsigned trailing = static_cast<unsigned>(__builtin_clz(others)) - 16;
    pending_ = (follow & 0x8000) ? trailing : 0;
  }
  in_separators_ = (seps & 0x8000) != 0;
  last_is_letter_ = (letters & 0x8000) != 0;
  if (static_cast<std::size_t>(obuf_ + kStagingEntries - o_) < 16) flush();
  alignas(16) char bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes), f);
  alignas(16) static constexpr std::uint64_t kSteps[16][2] = {
      {0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8},
      {8, 9}, {9, 10}, {10, 11}, {11, 12}, {12, 13}, {13, 14}, {14, 15}, {15, 16}};
  const __m128i base = _mm_set1_epi64x(static_cast<long long>(base_ + i));
  char* t = t_;
  SourceRange* o = o_;
  std::memset(fbuf_ + (o - obuf_), 0, 16);
  for (unsigned m = keep; m != 0; m &= m - 1) {
    const auto k = static_cast<std::size_t>(__builtin_ctz(m));
    *t++ = bytes[k];
    const __m128i step = _mm_load_si128(reinterpret_cast<const __m128i*>(kSteps[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o++), _mm_add_epi64(base, step));
  }
  t_ = t;
  o_ = o;
}

}  // namespace
}  // namespace tarnwhisk::fused

#endif  // TARNWHISK_SSE2
