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
// it, as at the basic level; "1", "!" and "|" may be i or l, "@" a or o. The symbols are
// flagged: at the edge of a word they are punctuation.
const std::array<Unit, 128> kAscii = [] {
  std::array<Unit, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = {b, 0};
  for (char32_t b = 'A'; b <= 'Z'; ++b) t[b] = {b + 32, 0};
  const std::pair<char, char> digits[] = {{'0', 'o'}, {'3', 'e'}, {'4', 'a'}, {'5', 's'},
                                          {'7', 't'}, {'8', 'b'}, {'9', 'g'}};
  for (const auto& [from, to] : digits) t[static_cast<unsigned char>(from)] = {static_cast<char32_t>(to), 0};
  t['1'] = {'I', 0};
  t['!'] = {'I', kSymbol};
  t['$'] = {'s', kSymbol};
  t['@'] = {'A', kSymbol};
  t['|'] = {'J', kSymbol};
  return t;
}();

bool is_mark(char32_t c) noexcept { return unicode::is_nonspacing_mark(c) || unicode::is_enclosing_mark(c); }

// The letter, or the code of the two letters, that the look-alike x stands for; 0 if none.
char32_t look_alike(char32_t x) noexcept {
  const char letter = unicode::confusable_letter(x);
  if (letter == 0) return 0;
  const char other = unicode::alternate_letter(x);
  const char code = other != 0 ? code_for(letter, other) : 0;
  return static_cast<char32_t>(code != 0 ? code : letter);
}

// Appends what one character of an NFKC form becomes.
std::size_t fold_form_char(char32_t x, Unit* out) noexcept {
  if (x < 0x80) {
    out[0] = kAscii[x];
    return 1;
  }
  if (unicode::is_default_ignorable(x) || is_mark(x)) return 0;
  if (const char32_t l = look_alike(x)) {
    out[0] = {l, 0};
    return 1;
  }
  const unicode::CaseFold folded = unicode::case_fold(x);
  std::size_t n = 0;
  for (std::size_t k = 0; k < folded.len; ++k) {
    const char32_t z = unicode::strip_diacritics(folded.chars[k]);
    if (z < 0x80) {
      out[n++] = kAscii[z];
    } else if (!is_mark(z)) {
      const char32_t l = look_alike(z);
      // The basic level's look-alikes that the confusables leave out (Greek beta, ...).
      out[n++] = {l != 0 ? l : homoglyph::fold(z), 0};
    }
  }
  return n;
}

std::size_t fold_slow(char32_t c, Unit* out) noexcept {
  if (unicode::is_default_ignorable(c)) return 0;
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
    return is_letter(c[i].c) && (i == 0 || !is_letter(c[i - 1].c)) && (i + 1 == n || !is_letter(c[i + 1].c));
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
    i = j + 1;
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
    while (j < c.size() && c[j].c == c[i].c) ++j;
    Char x = c[i];
    if (j - i >= 2) {
      x.entry.end = c[j - 1].entry.end;
      x.flags = static_cast<std::uint8_t>(merged_flags(c[i].flags, c[j - 1].flags) | kDoubled);
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

void Writer::feed(std::string_view src, std::size_t base) {
  out_.text.reserve(out_.text.size() + src.size());
  out_.offsets.reserve(out_.offsets.size() + src.size());
  out_.flags.reserve(out_.flags.size() + src.size());
  for (std::size_t i = 0; i < src.size();) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b < 0x80) {
      const Unit u = kAscii[b];
      unit(u.c, u.flags, {base + i, base + i + 1});
      ++i;
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

// Writes c, or merges it into the last character when they are equal.
void Writer::append(char32_t c, std::uint8_t flags, SourceRange e) {
  if (chars_ > 0 && c == last_) {
    out_.offsets.back().end = e.end;
    out_.flags.back() = static_cast<std::uint8_t>(merged_flags(out_.flags.back(), flags) | kDoubled);
    return;
  }
  utf8::encode(c, out_.text);
  out_.offsets.push_back(e);
  out_.flags.push_back(flags);
  ++chars_;
  bytes_ += utf8::encoded_len(c);
  last_ = c;
}

void Writer::unit(char32_t c, std::uint8_t flags, SourceRange e) {
  if (is_letter(c)) {
    if (token_len_ == 0) {
      // A token starts. The separators before it may go if it and the letter before them
      // are single letters; otherwise they stay.
      gap_ = after_single_ ? run_start_ : Mark{kNone, kNone};
      if (gap_.chars == kNone) {
        chain_ends();
      } else {
        gap_run_ = run_;
      }
      after_single_ = false;
      run_start_ = {kNone, kNone};
    }
    if (++token_len_ == 2) {
      // Not a single letter: the chain before it ends, and the run before it stays.
      gap_ = {kNone, kNone};
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
    if (run_start_.chars == kNone) {
      run_start_ = here();
      run_.clear();
    }
    run_ += c;
  } else {
    run_start_ = {kNone, kNone};
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
  if (gap_.chars == kNone) {
    chain_ends();
    chain_ = 1;
    return;
  }
  // The chain goes on only over the same run of separators as before.
  if (chain_ == 1) {
    chain_run_ = gap_run_;
  } else if (gap_run_ != chain_run_) {
    chain_ends();
    chain_ = 1;
    gap_ = {kNone, kNone};
    return;
  }
  ++chain_;
  gap_prev_ = gap_last_;
  gap_last_ = gap_;
  gap_ = {kNone, kNone};
  if (chain_ == 3) {
    drop_runs(2);
  } else if (chain_ > 3) {
    drop_runs(1);
  }
}

// Takes back everything from the run before the chain's second-to-last single letter
// (count 2) or before its last (count 1), and writes those letters again, flagged
// kJoined. Runs and letters are ASCII, one byte a character.
void Writer::drop_runs(std::size_t count) {
  Char letters[2];
  std::size_t n = 0;
  if (count == 2) {
    const std::size_t k = index(gap_last_.chars) - 1;
    letters[n++] = {static_cast<unsigned char>(out_.text[byte_index(gap_last_.bytes) - 1]), out_.offsets[k], out_.flags[k]};
  }
  letters[n++] = {static_cast<unsigned char>(out_.text.back()), out_.offsets.back(), out_.flags.back()};
  const Mark at = count == 2 ? gap_prev_ : gap_last_;
  const std::size_t keep_chars = index(at.chars), keep_bytes = byte_index(at.bytes);
  out_.text.resize(keep_bytes);
  out_.offsets.resize(keep_chars);
  out_.flags.resize(keep_chars);
  chars_ = at.chars;
  bytes_ = at.bytes;
  last_ = 0;
  if (!out_.text.empty()) {
    std::size_t b = out_.text.size() - 1;
    while (b > 0 && utf8::is_continuation(static_cast<unsigned char>(out_.text[b]))) --b;
    last_ = utf8::decode(out_.text, b, out_.text.size() - b);
  }
  for (std::size_t k = 0; k < n; ++k)
    append(letters[k].c, static_cast<std::uint8_t>(letters[k].flags | kJoined), letters[k].entry);
  gap_prev_ = gap_last_ = {kNone, kNone};
}

// The chain of single letters can grow no more: runs in it that were kept stay.
void Writer::chain_ends() {
  chain_ = 0;
  gap_prev_ = gap_last_ = {kNone, kNone};
}

std::pair<std::size_t, std::size_t> Writer::stable() const noexcept {
  // The last character may merge with the next one; a run of separators after a single
  // letter may go, until what follows it is known.
  Mark open = here();
  if (chars_ > 0) {
    std::size_t b = out_.text.size() - 1;
    while (b > 0 && utf8::is_continuation(static_cast<unsigned char>(out_.text[b]))) --b;
    open = {chars_ - 1, bytes_ - (out_.text.size() - b)};
  }
  const Mark after_single = after_single_ ? run_start_ : Mark{kNone, kNone};
  for (const Mark& m : {gap_last_, gap_prev_, gap_, after_single})
    if (m.chars != kNone && m.chars < open.chars) open = m;
  return {index(open.chars), byte_index(open.bytes)};
}

}  // namespace tarnwhisk::thorough
