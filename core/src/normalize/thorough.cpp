// Undoes what the other levels leave, without joining ordinary words: every invisible
// character, case and diacritics in every script ("CABRÓN", "fu\u0308ck"), look-alikes
// from Unicode's confusables ("ƒuck"), leetspeak whose letter is ambiguous ("h3l1" keeps
// a code for "i or l"), single letters spread out with separators ("f.u.c.k"), and
// stretched letters of any length ("fuuuuck", "asssss"), whose doubling is kept as a flag.
// This file: what each character becomes (fold); the neighbour rules are in
// thorough_stages.cpp (as stages) and thorough_writer.cpp (in one pass).
#include "normalize/thorough.hpp"

#include <array>
#include <atomic>
#include <memory>

#include "normalize/stages.hpp"
#include "normalize/thorough_detail.hpp"
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

namespace {

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
    // The ligatures of two Latin letters that NFKC keeps are those two letters, as
    // writers without the ligature put them ("noeud" for "n\u0153ud").
    if (z == 0x0153 || z == 0x00E6) {
      out[n++] = kAscii[z == 0x0153 ? 'o' : 'a'];
      out[n++] = kAscii['e'];
      continue;
    }
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

}  // namespace

bool is_mark(char32_t c) noexcept { return unicode::is_nonspacing_mark(c) || unicode::is_enclosing_mark(c); }

std::size_t fold(char32_t c, Unit* out) noexcept {
  if (c < 0x80) {
    out[0] = kAscii[c];
    return 1;
  }
  return fold_slow(c, out);
}

std::atomic<const Block*> g_blocks[256];

const Block& make_block(char32_t c) noexcept {
  std::atomic<const Block*>& slot = g_blocks[c >> 8];
  auto fresh = std::make_unique<Block>();
  for (char32_t k = 0; k < 256; ++k) {
    const char32_t x = (c & ~char32_t{0xFF}) | k;
    Unit units[kMaxUnits];
    const std::size_t n = (x >= 0xD800 && x <= 0xDFFF) ? 1 : fold_slow(x, units);
    char16_t r = 0;
    if (n == 0) {
      r = is_mark(x) ? 2 : 1;
    } else if (n == 1 && units[0].flags == 0 && units[0].c < 0x10000 && units[0].c > 2) {
      r = static_cast<char16_t>(units[0].c);
    }
    fresh->r[k] = r;
  }
  const Block* expected = nullptr;
  if (slot.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return *fresh.release();
  return *expected;
}

}  // namespace tarnwhisk::thorough
