// Undoes what the other levels leave, without joining ordinary words: every invisible
// character, case and diacritics in every script ("CABRÓN", "fu\u0308ck"), look-alikes
// from Unicode's confusables ("ƒuck"), leetspeak whose letter is ambiguous ("h3l1" keeps
// a code for "i or l"), single letters spread out with separators ("f.u.c.k"), and
// stretched letters of any length ("fuuuuck", "asssss"), whose doubling is kept as a flag.
#include "normalize/thorough.hpp"

#include <array>
#include <atomic>
#include <memory>

#include "normalize/stages.hpp"
#include "normalize/unicode_tables.hpp"
#include "utf8.hpp"

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

// Writes c, or merges it into the last character when they are equal (or a code meets
// the letter of a stretched run).
inline void Writer::append(char32_t c, std::uint8_t flags, SourceRange e) {
  if (chars_ > 0) [[likely]] {
    const char32_t m = c == last_ ? c : ((out_.flags.back() & kDoubled) ? merge_into(last_, true, c) : 0);
    if (m != 0) [[unlikely]] {
      if (m != last_) out_.text.back() = static_cast<char>(m);  // a code gives way to its letter
      last_ = m;
      out_.offsets.back().end = e.end;
      const std::uint8_t more = (out_.flags.back() & kDoubled) ? kStretched : 0;
      out_.flags.back() = static_cast<std::uint8_t>(merged_flags(out_.flags.back(), flags) | kDoubled | more);
      return;
    }
  }
  if (c < 0x80) [[likely]] {
    out_.text.push_back(static_cast<char>(c));
    ++bytes_;
  } else {
    utf8::encode(c, out_.text);
    bytes_ += utf8::encoded_len(c);
  }
  out_.offsets.push_back(e);
  out_.flags.push_back(flags);
  ++chars_;
  last_ = c;
}

void Writer::feed(std::string_view src, std::size_t base) {
  out_.text.reserve(out_.text.size() + src.size());
  out_.offsets.reserve(out_.offsets.size() + src.size());
  out_.flags.reserve(out_.flags.size() + src.size());
  for (std::size_t i = 0; i < src.size();) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b < 0x80) {
      const Unit u = kAscii[b];
      const SourceRange e{base + i, base + i + 1};
      ++i;
      // Most characters need nothing of the joining of single letters: a letter inside a
      // word, and what follows a word while no single letter waits for company.
      if (is_letter(u.c, u.flags)) {
        if (token_len_ >= 2) {
          append(u.c, u.flags, e);
          continue;
        }
      } else if (!after_single_ && token_len_ != 1) {
        token_len_ = 0;
        if (!is_separator(u.c)) {
          run_start_ = kNoMark;
          chain_ends();
        }
        append(u.c, u.flags, e);
        continue;
      }
      unit(u.c, u.flags, e);
      continue;
    }
    const std::size_t len = utf8::char_len(src, i);
    const char32_t c = utf8::decode(src, i, len);
    const SourceRange e{base + i, base + i + len};
    if (len != 1 && c < 0x10000) {
      const char16_t r = block(c).r[c & 0xFF];
      if (r == 1) {
        i += len;
        continue;
      }
      if (r != 0) {
        unit(r, 0, e);
        i += len;
        continue;
      }
    }
    Unit units[kMaxUnits];
    const std::size_t n = fold(c, units);
    for (std::size_t j = 0; j < n; ++j) unit(units[j].c, units[j].flags, e);
    i += len;
  }
}

void Writer::finish() {
  if (token_len_ > 0) token_ends();
  chain_ends();
}

void Writer::unit(char32_t c, std::uint8_t flags, SourceRange e) {
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
  // The last character may merge with the next one; a run of separators after a single
  // letter may go, until what follows it is known, and then the letters after it may
  // merge with the single letter before it ("a a a" is one stretched a), or that letter
  // be put back as it was before the run: that letter (ASCII, one byte) stays open too.
  Mark open = here();
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
