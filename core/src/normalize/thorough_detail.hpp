// What the thorough text's stages and its one-pass writer share: how runs merge, and
// the few byte-level helpers of the writer's quick paths.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "normalize/thorough.hpp"
#include "utf8.hpp"

namespace tarnwhisk::thorough {

inline constexpr std::uint8_t kSymbol = kSymbolFirst | kSymbolLast;

// What an ASCII character becomes: case folded; digits that stand for one letter become
// it, as at the basic level, and "2" z and "+" t; "1", "!" and "|" may be i or l, "@" a
// or o, "6" b or g. The symbols are flagged: at the edge of a word they are punctuation.
extern const std::array<Unit, 128> kAscii;

// Whether c is a nonspacing or enclosing mark (which fold() drops).
bool is_mark(char32_t c) noexcept;

// fold() of the characters of the Basic Multilingual Plane, made one block of 256 at a
// time on first use: 1 for a character that goes, 2 for a mark that goes (it belongs to
// the letter before it), the one character it becomes when that lies in the plane and
// has no flag, 0 for the rest (folded each time).
struct Block {
  char16_t r[256];
};
extern std::atomic<const Block*> g_blocks[256];
const Block& make_block(char32_t c) noexcept;
inline const Block& block(char32_t c) noexcept {
  const Block* b = g_blocks[c >> 8].load(std::memory_order_acquire);
  return b != nullptr ? *b : make_block(c);
}

// What a run that stands as `run` becomes when `x` follows it, or 0 when x starts a new
// run: the same character; and where the run is a stretched one already (two or more),
// a letter and a code that may stand for it in either order ("aaa@": a), or two codes
// for a common letter ("11|"), which stay the first. A single letter next to a code stays
// apart: "l1" may well be "li".
inline char32_t merge_into(char32_t run, bool stretched, char32_t x) noexcept {
  if (x == run) return run;
  if (!stretched || run >= 0x80 || x >= 0x80) return 0;
  const std::uint32_t r = letters_of(static_cast<unsigned char>(run));
  const std::uint32_t y = letters_of(static_cast<unsigned char>(x));
  if (r != 0 && x >= 'a' && x <= 'z' && (r & (1u << (x - 'a')))) return x;
  if (y != 0 && run >= 'a' && run <= 'z' && (y & (1u << (run - 'a')))) return run;
  if (r != 0 && y != 0 && (r & y)) return run;
  return 0;
}

// The two letters of a ligature that fold() writes for one character ("\u0153": o e,
// "\u00e6": a e). Written again and again they are a run of both (see collapse_stage()).
constexpr bool ligature_pair(char32_t x, char32_t y) noexcept { return (x == 'o' || x == 'a') && y == 'e'; }

// Upper-case letters are codes in the thorough text. A letter merges into a stretched
// code that stands for it, and a code into a stretched letter (merge_into): the quick
// paths leave both to append().
constexpr bool is_upper(char32_t c) noexcept { return c - 'A' < 26u; }

// The characters that merge_three() may merge with one equal to them before them: the
// codes A, G, U and the letters they stand for ("4@@", "@44").
constexpr bool doubles_into_three(char32_t c) noexcept {
  switch (c) {
    case 'A': case 'G': case 'U': case 'a': case 'o': case 'b': case 'g': case 'u': case 'y':
      return true;
    default:
      return false;
  }
}

// Three characters in a row, each a letter or a code for a or o, b or g, u or y, where
// the first two and then all three may stand for one letter ("@a@", "696", "4@4", and a
// letter alone before two of its code, "4@@", or a code alone before two of its letter,
// "@44"): one stretched letter, which merge_into() leaves apart two by two. (The codes
// for i or l stay out: "1l1" may be "ili".) The letter, or 0. (Where the first two are
// equal, they are a run that takes in the third anyway.)
inline char32_t merge_three(char32_t x, char32_t y, char32_t z) noexcept {
  auto fits = [](char32_t c) { return (c - 'a' < 26u) || c == 'A' || c == 'G' || c == 'U'; };
  if (x == y || !fits(x) || !fits(y) || !fits(z)) return 0;
  const char32_t m = merge_into(x, true, y);
  return m != 0 ? merge_into(m, true, z) : 0;
}

// Whether a combining mark after c belongs to it: a letter, a code for letters or a
// character that stays beyond ASCII, not a separator or punctuation. (A run merges
// letters and codes only, so the run and its last character agree.)
constexpr bool takes_marks(char32_t c) noexcept { return (c - 'a' < 26u) || is_upper(c) || c >= 0x80; }

// A symbol for i or l ("!", a look-alike of capital I that is punctuation) may be a
// letter of the run before it or punctuation after the word ("helllll!", "h3l1!"); it is
// held apart until what follows decides. Other symbols merge at once: "$" and "+" stand
// for one letter, "|" (J) also separates letters, and "@" ends no sentence.
constexpr bool trails(char32_t c) noexcept { return c == 'I'; }
// What sends held symbols back into their run: a letter or a code. Anything else,
// characters beyond ASCII included (which separate words for the whole-word test too:
// "\u00ABh3l1!\u00BB"), leaves them punctuation.
constexpr bool continues_word(char32_t c) noexcept { return (c - 'a' < 26u) || (is_upper(c) && c != 'J'); }

// Writes the UTF-8 form of c (>= 0x80) at p; returns the end.
inline char* put_utf8(char32_t c, char* p) noexcept {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = utf8::kReplacement;
  static constexpr unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  const std::size_t n = utf8::encoded_len(c);
  for (std::size_t k = n - 1; k > 0; --k, c >>= 6) p[k] = static_cast<char>(0x80 | (c & 0x3F));
  p[0] = static_cast<char>(kLead[n] | c);
  return p + n;
}

}  // namespace tarnwhisk::thorough
