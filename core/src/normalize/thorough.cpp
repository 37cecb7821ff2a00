// Undoes what the other levels leave, without joining ordinary words: every invisible
// character, case and diacritics in every script ("CABRÓN", "fu\u0308ck"), look-alikes
// from Unicode's confusables ("ƒuck"), leetspeak whose letter is ambiguous ("h3l1" keeps
// a code for "i or l"), single letters spread out with separators ("f.u.c.k"), and
// stretched letters of any length ("fuuuuck", "asssss"), whose doubling is kept as a flag.
#include "normalize/thorough.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "normalize/stages.hpp"
#include "normalize/unicode_tables.hpp"
#include "simd.hpp"
#include "utf8.hpp"

#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

namespace tarnwhisk::thorough {

char code_for(char a, char b) noexcept {
  for (const Code& k : kCodes)
    if ((k.first == a && k.second == b) || (k.first == b && k.second == a)) return k.code;
  return 0;
}

std::uint32_t letters_of(unsigned char code) noexcept {
  for (const Code& k : kCodes)
    if (static_cast<unsigned char>(k.code) == code) return (1u << (k.first - 'a')) | (1u << (k.second - 'a'));
  return 0;
}

namespace {

constexpr std::uint8_t kSymbol = kSymbolFirst | kSymbolLast;

// What an ASCII character becomes: case folded; digits that stand for one letter become
// it, as at the basic level, and "2" z and "+" t; "1", "!" and "|" may be i or l, "@" a
// or o, "6" b or g. The symbols are flagged: at the edge of a word they are punctuation.
const std::array<Unit, 128> kAscii = [] {
  std::array<Unit, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = {b, 0};
  for (char32_t b = 'A'; b <= 'Z'; ++b) t[b] = {b + 32, 0};
  const std::pair<char, char> digits[] = {{'0', 'o'}, {'2', 'z'}, {'3', 'e'}, {'4', 'a'}, {'5', 's'},
                                          {'7', 't'}, {'8', 'b'}, {'9', 'g'}};
  for (const auto& [from, to] : digits) t[static_cast<unsigned char>(from)] = {static_cast<char32_t>(to), 0};
  t['1'] = {'I', 0};
  t['6'] = {'G', 0};
  t['+'] = {'t', kSymbol};
  t['!'] = {'I', kSymbol};
  t['$'] = {'s', kSymbol};
  t['@'] = {'A', kSymbol};
  t['|'] = {'J', kSymbol};
  t['#'] = {'*', 0};
  t['%'] = {'*', 0};
  return t;
}();

bool is_mark(char32_t c) noexcept { return unicode::is_nonspacing_mark(c) || unicode::is_enclosing_mark(c); }

// The letter, or the code of the two letters, that the look-alike x stands for (c 0 if
// none); a look-alike that is not a letter itself is flagged like the ASCII symbols.
Unit look_alike(char32_t x) noexcept {
  const char letter = unicode::confusable_letter(x);
  if (letter == 0) return {0, 0};
  const char other = unicode::alternate_letter(x);
  const char code = other != 0 ? code_for(letter, other) : 0;
  return {static_cast<char32_t>(code != 0 ? code : letter), unicode::confusable_is_symbol(x) ? kSymbol : std::uint8_t{0}};
}

// Appends what one character of an NFKC form becomes.
std::size_t fold_form_char(char32_t x, Unit* out) noexcept {
  if (x < 0x80) {
    out[0] = kAscii[x];
    return 1;
  }
  if (x == 0x00B7 || x == 0x2022) {  // middle dot, bullet: written between letters
    out[0] = {'.', 0};
    return 1;
  }
  if (unicode::is_default_ignorable(x) || is_mark(x)) return 0;
  if (const Unit l = look_alike(x); l.c != 0) {
    out[0] = l;
    return 1;
  }
  const unicode::CaseFold folded = unicode::case_fold(x);
  std::size_t n = 0;
  for (std::size_t k = 0; k < folded.len; ++k) {
    const char32_t z = unicode::strip_diacritics(folded.chars[k]);
    if (z < 0x80) {
      out[n++] = kAscii[z];
    } else if (!is_mark(z)) {
      const Unit l = look_alike(z);
      // The basic level's look-alikes that the confusables leave out (Greek beta, ...),
      // and three Cyrillic letters that writers put for Latin ones although the
      // confusables liken them to non-ASCII letters (soft and hard sign: b; Ukrainian
      // ie: e).
      char32_t h = homoglyph::fold(z);
      if (z == 0x044C || z == 0x044A) h = 'b';
      if (z == 0x0454) h = 'e';
      out[n++] = l.c != 0 ? l : Unit{h, 0};
    }
  }
  return n;
}

std::size_t fold_slow(char32_t c, Unit* out) noexcept {
  if (unicode::is_default_ignorable(c)) return 0;
  // A look-alike as written, before NFKC: the lunate sigma looks like c, its normal form
  // like o.
  if (const Unit l = look_alike(c); l.c != 0) {
    out[0] = l;
    return 1;
  }
  const nfkc::Form f = nfkc::form(c);
  if (f.len == 0) return fold_form_char(c, out);
  std::size_t n = 0;
  for (std::size_t j = 0; j < f.len; ++j) n += fold_form_char(f.chars[j], out + n);
  return n;
}

// fold() of the characters of the Basic Multilingual Plane, made one block of 256 at a
// time on first use: 1 for a character that goes, the one character it becomes when
// that lies in the plane and has no flag, 0 for the rest (folded each time).
struct Block {
  char16_t r[256];
};
std::atomic<const Block*> g_blocks[256];

const Block& block(char32_t c) noexcept {
  std::atomic<const Block*>& slot = g_blocks[c >> 8];
  const Block* b = slot.load(std::memory_order_acquire);
  if (b != nullptr) return *b;
  auto fresh = std::make_unique<Block>();
  for (char32_t k = 0; k < 256; ++k) {
    const char32_t x = (c & ~char32_t{0xFF}) | k;
    Unit units[kMaxUnits];
    const std::size_t n = (x >= 0xD800 && x <= 0xDFFF) ? 1 : fold_slow(x, units);
    char16_t r = 0;
    if (n == 0) {
      r = 1;
    } else if (n == 1 && units[0].flags == 0 && units[0].c < 0x10000 && units[0].c > 1) {
      r = static_cast<char16_t>(units[0].c);
    }
    fresh->r[k] = r;
  }
  const Block* expected = nullptr;
  if (slot.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return *fresh.release();
  return *expected;
}

}  // namespace

std::size_t fold(char32_t c, Unit* out) noexcept {
  if (c < 0x80) {
    out[0] = kAscii[c];
    return 1;
  }
  return fold_slow(c, out);
}

// ---- The stages -------------------------------------------------------------------------

namespace {

// What a run that stands as `run` becomes when `x` follows it, or 0 when x starts a new
// run: the same character; and where the run is a stretched one already (two or more),
// a letter and a code that may stand for it in either order ("aaa@": a), or two codes
// for a common letter ("11|"), which stay the first. A single letter next to a code stays
// apart: "l1" may well be "li".
char32_t merge_into(char32_t run, bool stretched, char32_t x) noexcept {
  if (x == run) return run;
  if (!stretched || run >= 0x80 || x >= 0x80) return 0;
  const std::uint32_t r = letters_of(static_cast<unsigned char>(run));
  const std::uint32_t y = letters_of(static_cast<unsigned char>(x));
  if (r != 0 && x >= 'a' && x <= 'z' && (r & (1u << (x - 'a')))) return x;
  if (y != 0 && run >= 'a' && run <= 'z' && (y & (1u << (run - 'a')))) return run;
  if (r != 0 && y != 0 && (r & y)) return run;
  return 0;
}

}  // namespace

NormalizedText fold_stage(NormalizedText in) {
  NormalizedText out;
  out.text.reserve(in.text.size());
  out.offsets.reserve(in.offsets.size());
  out.flags.reserve(in.offsets.size());
  const std::string_view t = in.text;
  for (std::size_t i = 0, k = 0; i < t.size(); ++k) {
    const std::size_t len = utf8::char_len(t, i);
    Unit units[kMaxUnits];
    const std::size_t n = fold(utf8::decode(t, i, len), units);
    for (std::size_t j = 0; j < n; ++j) {
      utf8::encode(units[j].c, out.text);
      out.offsets.push_back(in.offsets[k]);
      out.flags.push_back(static_cast<std::uint8_t>((in.flags.empty() ? 0 : in.flags[k]) | units[j].flags));
    }
    i += len;
  }
  return out;
}

namespace {

struct Char {
  char32_t c;
  SourceRange entry;
  std::uint8_t flags;
};

std::vector<Char> chars_of(const NormalizedText& nt) {
  std::vector<Char> out;
  for (std::size_t i = 0, k = 0; i < nt.text.size(); ++k) {
    const std::size_t len = utf8::char_len(nt.text, i);
    out.push_back({utf8::decode(nt.text, i, len), nt.offsets[k], nt.flags.empty() ? std::uint8_t{0} : nt.flags[k]});
    i += len;
  }
  return out;
}

NormalizedText text_of(const std::vector<Char>& chars) {
  NormalizedText out;
  for (const Char& c : chars) {
    utf8::encode(c.c, out.text);
    out.offsets.push_back(c.entry);
    out.flags.push_back(c.flags);
  }
  return out;
}

}  // namespace

NormalizedText join_stage(NormalizedText in) {
  const std::vector<Char> c = chars_of(in);
  const std::size_t n = c.size();
  // Tokens: maximal runs of letters. A single letter is a token of one.
  auto single_at = [&](std::size_t i) {
    return is_letter(c[i].c, c[i].flags) && (i == 0 || !is_letter(c[i - 1].c, c[i - 1].flags)) &&
           (i + 1 == n || !is_letter(c[i + 1].c, c[i + 1].flags));
  };
  std::vector<bool> drop(n, false), joined(n, false);
  for (std::size_t i = 0; i < n;) {
    if (!single_at(i)) {
      ++i;
      continue;
    }
    // The chain from the single letter at i: singles separated by runs of separators,
    // all of them the same ("f u c k", "f..u..c..k"; in "f**k u" the mask and the space
    // differ, and nothing joins).
    std::vector<std::size_t> singles = {i};
    std::u32string first_run;
    std::size_t j = i;
    for (;;) {
      std::size_t k = j + 1;
      std::u32string run;
      while (k < n && is_separator(c[k].c)) run += c[k++].c;
      if (run.empty() || k >= n || !single_at(k)) break;
      if (singles.size() == 1) {
        first_run = run;
      } else if (run != first_run) {
        break;
      }
      singles.push_back(k);
      j = k;
    }
    if (singles.size() >= 3) {
      for (std::size_t s = 1; s < singles.size(); ++s) {
        for (std::size_t k = singles[s - 1] + 1; k < singles[s]; ++k) drop[k] = true;
        joined[singles[s]] = true;
      }
    }
    // A chain of two may be the start of the next one ("a s-h-i-t": the s).
    i = singles.size() == 2 ? j : j + 1;
  }
  std::vector<Char> out;
  for (std::size_t i = 0; i < n; ++i) {
    if (drop[i]) continue;
    Char x = c[i];
    if (joined[i]) x.flags |= kJoined;
    out.push_back(x);
  }
  return text_of(out);
}

NormalizedText collapse_stage(NormalizedText in) {
  const std::vector<Char> c = chars_of(in);
  std::vector<Char> out;
  for (std::size_t i = 0; i < c.size();) {
    std::size_t j = i + 1;
    char32_t run = c[i].c;
    for (char32_t m; j < c.size() && (m = merge_into(run, j - i >= 2, c[j].c)) != 0; ++j) run = m;
    Char x = c[i];
    x.c = run;
    if (j - i >= 2) {
      x.entry.end = c[j - 1].entry.end;
      x.flags = static_cast<std::uint8_t>(merged_flags(c[i].flags, c[j - 1].flags) | kDoubled |
                                          (j - i >= 3 ? kStretched : 0));
    }
    out.push_back(x);
    i = j;
  }
  return text_of(out);
}

// ---- The one-pass writer ------------------------------------------------------------------
//
// It writes every character at once and takes back what a later character decides
// against: a run of separators between single letters once the chain has three of
// them (the letters after it are written again, flagged), and a repeated character, which
// merges into the one before. Places in the result are counted over everything written,
// so that the owner may erase stable characters from the front between pieces.
//
// Most text is ASCII prose, in which a letter inside a word needs only its lower case and
// a doubled letter the merge. Such text is taken 16 bytes at a time where the machine
// has SSE2, while no single letter waits for company; the rest goes one character at a
// time. Characters are staged in small buffers that stay in the first-level cache and
// appended to the result in bulk.

namespace {

// Upper-case letters are codes in the thorough text. A letter merges into a stretched
// code that stands for it, and a code into a stretched letter (merge_into): the quick
// paths leave both to append().
constexpr bool is_upper(char32_t c) noexcept { return c - 'A' < 26u; }

// Writes the UTF-8 form of c (>= 0x80) at p; returns the end.
inline char* put_utf8(char32_t c, char* p) noexcept {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = utf8::kReplacement;
  static constexpr unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  const std::size_t n = utf8::encoded_len(c);
  for (std::size_t k = n - 1; k > 0; --k, c >>= 6) p[k] = static_cast<char>(0x80 | (c & 0x3F));
  p[0] = static_cast<char>(kLead[n] | c);
  return p + n;
}

#if TARNWHISK_SSE2
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
// and "! $ @ | + # %". Such blocks go the character road.
inline bool has_special16(__m128i b) noexcept {
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  const auto in = [&](char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(b, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(b, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const __m128i s = _mm_or_si128(_mm_or_si128(in('0', '9'), in('#', '%')),
                                 _mm_or_si128(_mm_or_si128(eq('!'), eq('@')), _mm_or_si128(eq('|'), eq('+'))));
  return _mm_movemask_epi8(s) != 0;
}

#endif

}  // namespace

// Merges the character just come into the last one, which becomes m.
void Writer::merge(char32_t m, std::uint8_t flags, std::size_t end) {
  if (m != last_) (o_ != obuf_ ? t_[-1] : out_.text.back()) = static_cast<char>(m);  // a code gives way to its letter
  last_ = m;
  last_entry().end = end;
  std::uint8_t& f = last_flags();
  const std::uint8_t more = (f & kDoubled) ? kStretched : 0;
  f = static_cast<std::uint8_t>(merged_flags(f, flags) | kDoubled | more);
}

// Writes c, or merges it into the last character when they are equal (or a code meets
// the letter of a stretched run).
inline void Writer::append(char32_t c, std::uint8_t flags, SourceRange e) {
  if (c == last_) {
    merge(c, flags, e.end);
    return;
  }
  if (last_ < 0x80 && c < 0x80 && (is_upper(c) || is_upper(last_)) && (last_flags() & kDoubled)) {
    if (const char32_t m = merge_into(last_, true, c); m != 0) {
      merge(m, flags, e.end);
      return;
    }
  }
  if (c < 0x80) [[likely]] {
    *t_++ = static_cast<char>(c);
  } else {
    t_ = put_utf8(c, t_);
  }
  fbuf_[o_ - obuf_] = flags;
  *o_++ = e;
  last_ = c;
}

void Writer::flush() {
  const auto staged = static_cast<std::size_t>(o_ - obuf_);
  const auto staged_bytes = static_cast<std::size_t>(t_ - tbuf_);
  out_.text.append(tbuf_, staged_bytes);
  out_.offsets.insert(out_.offsets.end(), obuf_, o_);
  out_.flags.insert(out_.flags.end(), fbuf_, fbuf_ + staged);
  chars_ += staged;
  bytes_ += staged_bytes;
  t_ = tbuf_;
  o_ = obuf_;
}

void Writer::feed(std::string_view src, std::size_t base) {
  out_.text.reserve(out_.text.size() + src.size());
  out_.offsets.reserve(out_.offsets.size() + src.size());
  out_.flags.reserve(out_.flags.size() + src.size());
  const char* const s = src.data();
  const std::size_t n = src.size();
  for (std::size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
#if TARNWHISK_SSE2
      if (i + 16 <= n && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))) == 0)
        i = ascii_blocks(s, i, n, base);
#endif
      room(16);
      i = ascii_chars(s, i, std::min(n, i + 16), base);
      continue;
    }
    room(kMaxUnits);
    const std::size_t len = utf8::char_len(src, i);
    const char32_t c = utf8::decode(src, i, len);
    const SourceRange e{base + i, base + i + len};
    i += len;
    if (len != 1 && c < 0x10000) {
      const char16_t r = block(c).r[c & 0xFF];
      if (r == 1) continue;
      if (r != 0) {
        put(r, 0, e);
        continue;
      }
    }
    Unit units[kMaxUnits];
    const std::size_t k = fold(c, units);
    for (std::size_t j = 0; j < k; ++j) put(units[j].c, units[j].flags, e);
  }
  flush();
}

// A letter inside a word, and what follows a word while no single letter waits for
// company, need nothing of the joining of single letters; the rest goes to unit().
inline void Writer::put(char32_t c, std::uint8_t flags, SourceRange e) {
  const bool letter = is_letter(c, flags);
  if (letter ? token_len_ >= 2 : (token_len_ != 1 && !after_single_)) {
    if (!letter) token_len_ = 0;
    append(c, flags, e);
  } else {
    unit(c, flags, e.start, e.end);
  }
}

// src[i, stop) one character at a time, up to the first byte that is not ASCII; the
// staging buffers have room for them all. A letter inside a word, and what follows a
// word while no single letter waits for company, need nothing of the joining of single
// letters: they take the first branch, with the state in locals (a store of text may
// alias anything).
std::size_t Writer::ascii_chars(const char* src, std::size_t i, std::size_t stop, std::size_t base) {
  char* t = t_;
  SourceRange* o = o_;
  char32_t last = last_;
  std::size_t tok = token_len_;
  bool after_single = after_single_;
  for (; i < stop; ++i) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b >= 0x80) break;
    const Unit u = kAscii[b];
    const bool letter = is_letter(u.c, u.flags);
    const bool quiet = letter ? tok >= 2 : (tok != 1 && !after_single);
    if (quiet && u.c != last && !is_upper(u.c) && !is_upper(last)) [[likely]] {
      if (!letter) tok = 0;
      *t++ = static_cast<char>(u.c);
      fbuf_[o - obuf_] = u.flags;
      *o++ = {base + i, base + i + 1};
      last = u.c;
      continue;
    }
    t_ = t, o_ = o, last_ = last, token_len_ = tok, after_single_ = after_single;
    put(u.c, u.flags, {base + i, base + i + 1});
    t = t_, o = o_, last = last_, tok = token_len_, after_single = after_single_;
  }
  t_ = t, o_ = o, last_ = last, token_len_ = tok, after_single_ = after_single;
  return i;
}

#if TARNWHISK_SSE2
// Whole blocks of 16 ASCII bytes from src[i, n) while the writer is quiet (no single
// letter waits, no chain is open, the last character is no code that a letter could
// take the place of) and the block keeps it so: no byte folds specially, and no single
// letter may start a chain. Every byte becomes its lower case with the identity entry,
// but for a byte equal to the one before, which merges into that one's character.
// Returns where it stopped.
std::size_t Writer::ascii_blocks(const char* src, std::size_t i, std::size_t n, std::size_t base) {
  if (after_single_ || gap_.chars != kNone || chain_ != 0 || is_upper(last_) || i + 16 > n) return i;
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
    if (tok == 1) token_first_ = {prev, {base + i + 15, base + i + 16}, 0};
  }
  t_ = t, o_ = o;
  if (i != start) {
    last_ = prev;
    token_len_ = tok;
  }
  return i;
}
#endif

void Writer::finish() {
  if (token_len_ > 0) token_ends();
  chain_ends();
  flush();
}

void Writer::unit(char32_t c, std::uint8_t flags, std::size_t start, std::size_t end) {
  const SourceRange e{start, end};
  if (is_letter(c, flags)) {
    if (token_len_ == 0) {
      // A token starts. The separators before it may go if it and the letter before them
      // are single letters; otherwise they stay.
      gap_ = after_single_ ? run_start_ : kNoMark;
      if (gap_.chars == kNone) {
        chain_ends();
      } else {
        gap_run_ = run_;
      }
      after_single_ = false;
      run_start_ = kNoMark;
      token_first_ = {c, e, flags};
    }
    if (++token_len_ == 2) {
      // Not a single letter: the chain before it ends, and the run before it stays.
      gap_ = kNoMark;
      chain_ends();
    }
    append(c, flags, e);
    return;
  }
  if (token_len_ > 0) {
    token_ends();
    token_len_ = 0;
  }
  if (is_separator(c)) {
    // Only a run after a single letter may go; only then is it kept track of.
    if (after_single_) {
      if (run_start_.chars == kNone) {
        run_start_ = here();
        run_.clear();
      }
      run_ += c;
    }
  } else {
    run_start_ = kNoMark;
    after_single_ = false;
    chain_ends();
  }
  append(c, flags, e);
}

// The token in progress ended after one letter or more.
void Writer::token_ends() {
  if (token_len_ != 1) {
    after_single_ = false;
    return;
  }
  after_single_ = true;
  single_prev_ = single_last_;
  single_last_ = token_first_;
  if (gap_.chars == kNone) {
    chain_ends();
    chain_ = 1;
    return;
  }
  // The chain goes on only over the same run of separators as before. Where another
  // run follows a chain of two, a new chain starts at its second letter ("a s-h-i-t").
  if (chain_ == 1) {
    chain_run_ = gap_run_;
  } else if (gap_run_ != chain_run_) {
    const bool two = chain_ == 2;
    chain_ends();
    chain_ = 1;
    if (two) {
      chain_ = 2;
      chain_run_ = gap_run_;
      gap_last_ = gap_;
    }
    gap_ = kNoMark;
    return;
  }
  ++chain_;
  gap_prev_ = gap_last_;
  gap_last_ = gap_;
  gap_ = kNoMark;
  if (chain_ == 3) {
    drop_runs(2);
  } else if (chain_ > 3) {
    drop_runs(1);
  }
}

// Takes back everything from the run before the chain's second-to-last single letter
// (count 2) or before its last (count 1), puts the letter before that run back as it
// was before the run (a run of "|" merges into a stretched i), and writes the single
// letters again as they came, flagged kJoined.
void Writer::drop_runs(std::size_t count) {
  flush();
  const Mark at = count == 2 ? gap_prev_ : gap_last_;
  const std::size_t keep_chars = index(at.chars), keep_bytes = byte_index(at.bytes);
  out_.text.resize(keep_bytes);
  out_.offsets.resize(keep_chars);
  out_.flags.resize(keep_chars);
  chars_ = at.chars;
  bytes_ = at.bytes;
  // The letter before the run (ASCII, one byte) is open: stable() leaves it to us.
  out_.text.back() = static_cast<char>(at.before.c);
  out_.offsets.back() = at.before.entry;
  out_.flags.back() = at.before.flags;
  last_ = at.before.c;
  if (count == 2) append(single_prev_.c, static_cast<std::uint8_t>(single_prev_.flags | kJoined), single_prev_.entry);
  append(single_last_.c, static_cast<std::uint8_t>(single_last_.flags | kJoined), single_last_.entry);
  gap_prev_ = gap_last_ = kNoMark;
}

// The chain of single letters can grow no more: runs in it that were kept stay.
void Writer::chain_ends() {
  if (chain_ == 0) return;
  chain_ = 0;
  gap_prev_ = gap_last_ = kNoMark;
}

std::pair<std::size_t, std::size_t> Writer::stable() const noexcept {
  // (Called between pieces, when nothing is staged.) The last character may merge with
  // the next one; a run of separators after a single letter may go, until what follows
  // it is known, and then the letters after it may merge with the single letter before
  // it ("a a a" is one stretched a), or that letter be put back as it was before the
  // run: that letter (ASCII, one byte) stays open too.
  Mark open{chars_, bytes_, {}};
  if (chars_ > 0) {
    std::size_t b = out_.text.size() - 1;
    while (b > 0 && utf8::is_continuation(static_cast<unsigned char>(out_.text[b]))) --b;
    open = {chars_ - 1, bytes_ - (out_.text.size() - b), {}};
  }
  const Mark& after_single = after_single_ ? run_start_ : kNoMark;
  for (const Mark* m : {&gap_last_, &gap_prev_, &gap_, &after_single})
    if (m->chars != kNone && m->chars - 1 < open.chars) open = {m->chars - 1, m->bytes - 1, {}};
  return {index(open.chars), byte_index(open.bytes)};
}

}  // namespace tarnwhisk::thorough
