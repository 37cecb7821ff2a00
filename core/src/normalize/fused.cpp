// The whole pipeline in one pass, because normalisation runs on every call and
// dominates its cost. It is built from the stages' own per-character rules; only the
// two stages that look at neighbours (collapse, separators) are restated here, as
// streaming state. normalize_by_stages() is the definition; tests hold the two equal.
//
// Most text is ASCII prose, where every byte becomes one character with the identity
// entry (i, i + 1), and the 16 bytes of each entry are most of what is written. So:
// ASCII is taken 16 bytes at a time where the machine allows (blocks that collapse
// leaves alone; at level Basic long stretches of them go straight into the result);
// everything else goes first to small buffers that stay in the first-level cache and
// are appended to the result in bulk, so that the result is never zero-filled before
// it is written; characters of the BMP are looked up in one table of what the
// per-character stages make of them; and the result is sized by one byte and one entry
// per source byte until a character that grows (rare) calls for its exact bound.
#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>

#include "simd.hpp"
#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

#include "ascii.hpp"
#include "normalize/nfkc_table.hpp"
#include "normalize/piece_normalizer.hpp"
#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// What the per-character stages do to a character of the Basic Multilingual Plane, as
// bit sets: kTouched marks every character that strip_bidi, nfkc or homoglyph changes
// (casefold and leetspeak touch ASCII only), kRemoved those strip_bidi deletes and
// kHasForm those nfkc replaces, kGrows those whose form is longer than they are, in
// bytes or in characters.
struct BmpSets {
  std::bitset<0x10000> touched, removed, has_form, grows;
};
const BmpSets kBmp = [] {
  BmpSets t;
  for (std::size_t k = 0; k < nfkc::table::kEntryCount && nfkc::table::kEntries[k].cp < 0x10000; ++k) {
    const nfkc::table::Entry& e = nfkc::table::kEntries[k];
    t.has_form[e.cp] = true;
    t.grows[e.cp] = e.len > 1 || e.bytes > utf8::encoded_len(e.cp);
  }
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    t.removed[c] = strip_bidi::removes(c);
    t.touched[c] = t.removed[c] || t.has_form[c] || homoglyph::fold(c) != c;
  }
  return t;
}();

// The most characters an NFKC form has.
const std::size_t kMaxFormLen = [] {
  std::size_t m = 1;
  for (std::size_t k = 0; k < nfkc::table::kEntryCount; ++k) m = std::max<std::size_t>(m, nfkc::table::kEntries[k].len);
  return m;
}();

// Whether nfkc changes any character of c's 256-character block.
inline bool block_has_forms(char32_t c) noexcept {
  const std::size_t b = c >> 8;
  return nfkc::table::kBlockStart[b] != nfkc::table::kBlockStart[b + 1];
}

// Outside the BMP only nfkc changes characters, and only in a few 256-character blocks.
inline bool touched(char32_t c) noexcept {
  if (c < 0x10000) return kBmp.touched[c];
  return block_has_forms(c) && nfkc::form(c).len != 0;
}

// The separator and letter classes of separators, for ASCII.
inline std::uint8_t ascii_class(char32_t c) noexcept { return ascii::classes(c); }

// casefold, homoglyph and leetspeak, in that order. casefold changes ASCII only, and
// homoglyph ASCII not at all, so both ASCII stages can run from the one table.
inline char32_t fold(char32_t c) noexcept {
  if (c < 0x80) return static_cast<char32_t>(ascii::kFold[c]);
  const char32_t h = homoglyph::fold(c);
  return h < 0x80 ? static_cast<char32_t>(ascii::kFold[h]) : h;
}

// For every character of the Basic Multilingual Plane, what strip_bidi, nfkc,
// casefold, homoglyph and leetspeak make of it when that is one character of the plane,
// or 0 when strip_bidi removes it or its NFKC form is longer or lies beyond the plane.
// One load for almost every character of almost every script.
const std::array<char16_t, 0x10000> kBmpResult = [] {
  std::array<char16_t, 0x10000> t{};
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // not characters; never decoded
    if (kBmp.removed[c]) continue;
    char32_t to = c;
    if (kBmp.has_form[c]) {
      const nfkc::Form f = nfkc::form(c);
      if (f.len != 1) continue;
      to = f.chars[0];
    }
    to = fold(to);
    if (to < 0x10000) t[c] = static_cast<char16_t>(to);
  }
  return t;
}();

// The flags that leetspeak gives an ASCII character: symbols stand for letters.
constexpr std::array<std::uint8_t, 128> kAsciiFlags = [] {
  std::array<std::uint8_t, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = ascii::is_symbol(b) ? kSymbolFirst | kSymbolLast : 0;
  return t;
}();
inline std::uint8_t symbol_flags(char32_t c) noexcept {
  return leetspeak::is_symbol(c) ? kSymbolFirst | kSymbolLast : 0;
}

// The characters of the plane whose kBmpResult came from a symbol (a one-character NFKC
// form such as U+FF01).
const std::bitset<0x10000> kBmpSymbol = [] {
  std::bitset<0x10000> t;
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    if (!kBmp.has_form[c] || kBmp.removed[c]) continue;
    const nfkc::Form f = nfkc::form(c);
    t[c] = f.len == 1 && leetspeak::is_symbol(f.chars[0]);
  }
  return t;
}();

// The lead bytes of the characters whose NFKC form is longer than they are, in bytes
// or in characters. Common scripts (accented Latin, Cyrillic, most of Greek) have none.
const std::array<bool, 256> kLeadOfGrower = [] {
  std::array<bool, 256> t{};
  for (std::size_t k = 0; k < nfkc::table::kEntryCount; ++k) {
    const nfkc::table::Entry& e = nfkc::table::kEntries[k];
    if (e.len > 1 || e.bytes > utf8::encoded_len(e.cp)) {
      std::string enc;
      utf8::encode(e.cp, enc);
      t[static_cast<unsigned char>(enc[0])] = true;
    }
  }
  return t;
}();

// Upper bounds of the output's bytes and characters: what NFKC makes of the text,
// which the other stages only shorten (homoglyph turns letters of two bytes into one).
std::pair<std::size_t, std::size_t> output_bound(std::string_view s) {
  std::size_t i = skip_ascii(s, 0);
  std::size_t bytes = i, chars = i;
  while (i < s.size()) {
    const std::size_t len = utf8::char_len(s, i);
    ++chars;
    if (len == 1) {
      bytes += 3;  // a stray byte, written as U+FFFD
    } else if (!kLeadOfGrower[static_cast<unsigned char>(s[i])]) {
      bytes += len;
    } else {
      const char32_t c = utf8::decode(s, i, len);
      const nfkc::Form f = (c < 0x10000 ? kBmp.grows[c] : block_has_forms(c)) ? nfkc::form(c) : nfkc::Form{};
      bytes += f.len ? f.bytes : len;
      chars += f.len ? f.len - 1 : 0;
    }
    i += len;
    const std::size_t j = skip_ascii(s, i);
    bytes += j - i;
    chars += j - i;
    i = j;
  }
  return {bytes, chars};
}

// Output goes to these buffers first; they are appended to the result when full and
// at the end. Text needs at most 4 bytes per entry.
constexpr std::size_t kStagingEntries = 512;

// Basic writes a stretch of ASCII blocks that collapse leaves alone straight to the
// result when it is at least kDirectMin bytes long, in steps of at most kDirectSpan
// bytes (so that the second pass over them finds them in the cache).
constexpr std::size_t kDirectMin = 64;
constexpr std::size_t kDirectSpan = 4096;


#if TARNWHISK_SSE2
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
#endif

// Receives the characters that leave leetspeak and writes what collapse and (if
// kAggressive) separators make of them. Rather than holding characters back, it writes
// at once and takes back: the second copy of a run when a third arrives, and a run of
// separators when a letter follows it. Every separator is ASCII, so a run of them is as
// many bytes as characters.
//
// A text may come in pieces (feed() once per piece, in order): the state of the run and
// of the separators carries over, and what a later piece may still take back or merge
// is the tail that stable_chars() leaves out.
template <bool kAggressive>
class Writer {
 public:
  explicit Writer(NormalizedText& out) noexcept : out_(out) {}

  // Normalises the next piece of the source, `src`, which starts at source byte `base`
  // and at a character boundary. Appends to the result.
  void feed(std::string_view src, std::size_t base);

  // The characters and bytes at the front of the result that no later piece changes:
  // all but the copies of the last run (a third copy takes back the second and merges
  // into the first) and the separators that a letter would take back (ASCII, all of
  // them; they include the run then).
  std::pair<std::size_t, std::size_t> stable() const noexcept {
    const std::size_t run_tail = run_char_ == kNoChar ? 0 : (run_len_ == 2 ? 2 : 1);
    if (pending_ >= run_tail) return {out_.offsets.size() - pending_, out_.text.size() - pending_};
    return {out_.offsets.size() - run_tail, out_.text.size() - run_tail * utf8::encoded_len(run_char_)};
  }

 private:
  static constexpr char32_t kNoChar = 0xFFFFFFFF;

  // Appends what is staged to the result. The first time in a piece, the result is
  // sized for the whole piece unless a growing character has sized it already.
  void flush() {
    if (!sized_) {
      out_.text.reserve(out_.text.size() + src_.size());
      out_.offsets.reserve(out_.offsets.size() + src_.size());
      out_.flags.reserve(out_.flags.size() + src_.size());
      sized_ = true;
    }
    const auto staged = static_cast<std::size_t>(o_ - obuf_);
    out_.text.append(tbuf_, static_cast<std::size_t>(t_ - tbuf_));
    out_.offsets.insert(out_.offsets.end(), obuf_, o_);
    out_.flags.insert(out_.flags.end(), fbuf_, fbuf_ + staged);
    t_ = tbuf_;
    o_ = obuf_;
  }

  // The last flush of a piece: when the result was not sized yet, it is sized exactly.
  void finish() {
    if (!sized_) {
      const auto staged = static_cast<std::size_t>(o_ - obuf_);
      out_.text.reserve(out_.text.size() + static_cast<std::size_t>(t_ - tbuf_));
      out_.offsets.reserve(out_.offsets.size() + staged);
      out_.flags.reserve(out_.flags.size() + staged);
      sized_ = true;
    }
    flush();
  }

  // A character whose form is longer than it is comes at byte i of the piece: the
  // guess of one byte and one entry per source byte may fail, so the result is sized for
  // the rest of the piece from here by its exact bound. Once per piece.
  void grows_at(std::size_t i) {
    if (bounded_) return;
    bounded_ = true;
    sized_ = true;
    const auto [bytes, chars] = output_bound(src_.substr(i));
    const auto staged = static_cast<std::size_t>(o_ - obuf_);
    out_.text.reserve(out_.text.size() + static_cast<std::size_t>(t_ - tbuf_) + bytes);
    out_.offsets.reserve(out_.offsets.size() + staged + chars);
    out_.flags.reserve(out_.flags.size() + staged + chars);
  }

  // Makes room for `n` more entries in the staging buffers.
  void room(std::size_t n) {
    if (static_cast<std::size_t>(obuf_ + kStagingEntries - o_) < n) flush();
  }

  // The entry for the source bytes [i, i + len) of the piece.
  SourceRange entry(std::size_t i, std::size_t len) const noexcept { return {base_ + i, base_ + i + len}; }

  [[gnu::always_inline]] void push(char32_t c, SourceRange e, std::uint8_t flags) {
    if (c == run_char_) [[unlikely]] {
      repeat(c, e, flags);
      return;
    }
    run_char_ = c;
    run_len_ = 1;
    if constexpr (kAggressive) {
      const std::uint8_t cls = ascii_class(c);
      if (!(cls & ascii::kSeparator)) {
        if (cls & ascii::kLetter) take_back_separators();  // they stand between two letters
        pending_ = 0;
      } else if (pending_ != 0 || (!in_separators_ && last_is_letter_)) {
        ++pending_;
      }
      in_separators_ = cls & ascii::kSeparator;
      last_is_letter_ = cls & ascii::kLetter;
    }
    append(c, e, flags);
  }

  // push() for each character of src[i, n) up to the first non-ASCII byte; returns the
  // index of that byte (or n).
  std::size_t push_ascii(std::size_t i, std::size_t n) {
    while (i < n && static_cast<unsigned char>(src_[i]) < 0x80) {
      room(16);
#if TARNWHISK_SSE2
      i = push_blocks(i, n);
#endif
      const std::size_t free = static_cast<std::size_t>(obuf_ + kStagingEntries - o_);
      i = push_ascii_scalar(i, std::min(n, i + std::min<std::size_t>(free, 16)));
    }
    return i;
  }

  // One character at a time, for src[i, n) up to the first non-ASCII byte, with the
  // state in registers so that letters take the first branch. n - i entries must fit.
  std::size_t push_ascii_scalar(std::size_t i, std::size_t n) {
    const char* const src = src_.data();
    char* t = t_;
    SourceRange* o = o_;
    char32_t run_char = run_char_;
    std::size_t pending = pending_;
    bool in_separators = in_separators_, last_is_letter = last_is_letter_;
    for (; i < n; ++i) {
      const auto b = static_cast<unsigned char>(src[i]);
      if (b >= 0x80) break;
      const auto c = static_cast<unsigned char>(ascii::kFold[b]);
      if (c == run_char) [[unlikely]] {
        t_ = t, o_ = o, pending_ = pending;
        repeat(c, entry(i, 1), kAsciiFlags[b]);
        t = t_, o = o_, pending = pending_;
        continue;
      }
      run_char = c;
      run_len_ = 1;
      if constexpr (kAggressive) {
        const std::uint8_t cls = ascii::kClasses[c];
        if (cls & ascii::kLetter) [[likely]] {
          if (pending != 0) {
            t_ = t, o_ = o, pending_ = pending;
            take_back_separators();
            t = t_, o = o_;
            pending = 0;
          }
          in_separators = false;
          last_is_letter = true;
        } else if (cls & ascii::kSeparator) {
          pending += pending != 0 || (!in_separators && last_is_letter);
          in_separators = true;
          last_is_letter = false;
        } else {
          pending = 0;
          in_separators = false;
          last_is_letter = false;
        }
      }
      *t++ = static_cast<char>(c);
      fbuf_[o - obuf_] = kAsciiFlags[b];
      *o++ = entry(i, 1);
    }
    t_ = t;
    o_ = o;
    run_char_ = run_char;
    pending_ = pending;
    in_separators_ = in_separators;
    last_is_letter_ = last_is_letter;
    return i;
  }

#if TARNWHISK_SSE2
  // Whole blocks of 16 ASCII bytes from src[i, n) in which collapse has nothing to do
  // (no byte is the third of a run) and no symbol needs a flag. Returns where it
  // stopped: at the first block that is not one of these.
  // (Stores of vectors may alias anything, so the loop keeps its state in locals.)
  std::size_t push_blocks(std::size_t i, std::size_t n) {
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
  void write_identity(std::size_t start, std::size_t end) {
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
  void block_aggressive(__m128i f, std::size_t i, unsigned letters, unsigned seps) {
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
#endif

  // Takes back the pending separators: they stand between two letters.
  void take_back_separators() {
    const std::size_t k = pending_;
    if (k <= static_cast<std::size_t>(o_ - obuf_)) [[likely]] {
      t_ -= k;
      o_ -= k;
    } else {
      unwrite(k, k);
    }
    pending_ = 0;
  }

  // Takes back the last `chars` characters, `bytes` bytes in all, some of which have
  // left the staging buffers already.
  [[gnu::noinline, gnu::cold]] void unwrite(std::size_t chars, std::size_t bytes) {
    flush();
    out_.text.erase(out_.text.size() - bytes);
    out_.offsets.erase(out_.offsets.end() - static_cast<std::ptrdiff_t>(chars), out_.offsets.end());
    out_.flags.erase(out_.flags.end() - static_cast<std::ptrdiff_t>(chars), out_.flags.end());
  }

  // The entry and the flags of the last character written.
  SourceRange& last_entry() noexcept { return o_ != obuf_ ? o_[-1] : out_.offsets.back(); }
  std::uint8_t& last_flags() noexcept { return o_ != obuf_ ? fbuf_[o_ - obuf_ - 1] : out_.flags.back(); }

  // c equals the character of the current run, whose last copy is the last character
  // written (separators are taken back only before a letter, which starts a new run).
  void repeat(char32_t c, SourceRange e, std::uint8_t flags) {
    if (++run_len_ == 2) {
      append(c, e, flags);
      if (pending_ != 0) ++pending_;  // a second separator in a run that may be dropped
      return;
    }
    if (run_len_ == collapse::kMinRun) {
      // Take back the second copy: one character of encoded_len(c) bytes.
      if (o_ != obuf_) [[likely]] {
        t_ -= utf8::encoded_len(c);
        --o_;
      } else {
        unwrite(1, utf8::encoded_len(c));
      }
      if (pending_ != 0) --pending_;
    }
    last_entry().end = e.end;  // merge
    std::uint8_t& f = last_flags();
    f = merged_flags(f, flags);
  }

  [[gnu::always_inline]] void append(char32_t c, SourceRange e, std::uint8_t flags) {
    if (c < 0x80) [[likely]] {
      *t_++ = static_cast<char>(c);
    } else {
      t_ = utf8::put(c, t_);
    }
    fbuf_[o_ - obuf_] = flags;
    *o_++ = e;
  }

  NormalizedText& out_;
  std::string_view src_;
  std::size_t base_ = 0;  // where the piece starts in the source
  bool sized_ = false;    // the result has its capacity for this piece
  bool bounded_ = false;  // ... by the exact bound, after a growing character
  char* t_ = tbuf_;
  SourceRange* o_ = obuf_;
  char32_t run_char_ = kNoChar;
  std::size_t run_len_ = 0;
  // separators: the last character written is one of a run of separators, and the last
  // before that run is a letter; `pending_` of that run are written and will be taken
  // back if a letter follows (0 if the run does not follow a letter).
  bool in_separators_ = false;
  bool last_is_letter_ = false;
  std::size_t pending_ = 0;
  SourceRange obuf_[kStagingEntries];
  std::uint8_t fbuf_[kStagingEntries];
  char tbuf_[4 * kStagingEntries];
};

template <bool kAggressive>
void Writer<kAggressive>::feed(std::string_view s, std::size_t base) {
  src_ = s;
  base_ = base;
  sized_ = bounded_ = false;
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) [[likely]] {
      i = push_ascii(i, n);
      continue;
    }
    const std::size_t len = utf8::char_len(s, i);
    const char32_t c = utf8::decode(s, i, len);  // U+FFFD for a stray byte
    const SourceRange e = entry(i, len);
    if (len != 1 && c < 0x10000 && kBmpResult[c] != 0) {
      room(1);
      push(kBmpResult[c], e, kBmpSymbol[c] ? kSymbolFirst | kSymbolLast : 0);
      i += len;
      continue;
    }
    room(kMaxFormLen);
    if (len == 1) grows_at(i);  // a stray byte becomes U+FFFD, three bytes
    if (!touched(c)) {
      push(c, e, 0);
    } else if (c >= 0x10000 || kBmp.has_form[c]) {
      if (c < 0x10000 && kBmp.removed[c]) {
        i += len;
        continue;
      }
      const nfkc::Form f = nfkc::form(c);
      if (f.len > len || f.bytes > len) grows_at(i);
      for (std::size_t j = 0; j < f.len; ++j) push(fold(f.chars[j]), e, symbol_flags(f.chars[j]));
    } else if (!kBmp.removed[c]) {
      push(fold(c), e, 0);
    }
    i += len;
  }
  finish();
}

}  // namespace

struct PieceNormalizer::Impl {
  explicit Impl(NormalizationLevel level, NormalizedText& out)
      : level(level), out(out), basic(out), aggressive(out), thorough(out) {}
  NormalizationLevel level;
  NormalizedText& out;
  Writer<false> basic;
  Writer<true> aggressive;
  thorough::Writer thorough;
};

PieceNormalizer::PieceNormalizer(NormalizationLevel level, NormalizedText& out)
    : impl_(std::make_unique<Impl>(level, out)) {}
PieceNormalizer::~PieceNormalizer() = default;

void PieceNormalizer::feed(std::string_view piece, std::size_t base) {
  switch (impl_->level) {
    case NormalizationLevel::None: source_copy_append(piece, base, impl_->out); break;
    case NormalizationLevel::Basic: impl_->basic.feed(piece, base); break;
    case NormalizationLevel::Aggressive: impl_->aggressive.feed(piece, base); break;
    default: impl_->thorough.feed(piece, base); break;
  }
}

void PieceNormalizer::finish() {
  if (impl_->level == NormalizationLevel::Thorough) impl_->thorough.finish();
}

std::pair<std::size_t, std::size_t> PieceNormalizer::stable() const noexcept {
  switch (impl_->level) {
    case NormalizationLevel::None: return {impl_->out.offsets.size(), impl_->out.text.size()};
    case NormalizationLevel::Basic: return impl_->basic.stable();
    case NormalizationLevel::Aggressive: return impl_->aggressive.stable();
    default: return impl_->thorough.stable();
  }
}

void fused_pipeline_into(std::string_view text, bool aggressive, NormalizedText& out) {
  out.text.clear();
  out.offsets.clear();
  out.flags.clear();
  if (aggressive) {
    Writer<true>(out).feed(text, 0);
  } else {
    Writer<false>(out).feed(text, 0);
  }
}

}  // namespace tarnwhisk
