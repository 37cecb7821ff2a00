// Unicode character data for the thorough level, which the code cannot compute by itself:
// the lookups of the tables that tools/gen_thorough_tables.py generates from pinned data
// packages (ignorable_table.cpp, casefold_table.cpp, mark_table.cpp,
// confusable_table.cpp). All of one Unicode version, that of the NFKC table.
//
// The pieces are meant to be applied to one character c at a time, after its per-character
// NFKC form, in this order:
//   1. c is deleted if is_default_ignorable(c), or if it is a nonspacing or enclosing mark
//      (spacing marks, the vowel signs of Brahmic scripts, stay: they carry the vowel).
//   2. Otherwise, if confusable_letter(c) names a letter, c becomes that letter. The
//      character as written decides: GREEK CAPITAL LETTER NU looks like N even though its
//      lower case looks like v.
//   3. Otherwise c becomes case_fold(c), and each character x of the fold becomes
//      strip_diacritics(x), which is deleted if it is a nonspacing or enclosing mark
//      (the fold of U+0130 ends in one) and else replaced by its confusable_letter, if any.
// Wherever a letter comes from confusable_letter(y), alternate_letter(y) is the other
// letter y may stand for, if any (CYRILLIC SMALL LETTER U looks like y and reads u).
// No ASCII character is deleted, stripped or given a look-alike; case_fold maps A-Z to
// a-z. Every function accepts any char32_t value: one that is not a Unicode scalar value
// is left as it is and belongs to no set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwhisk::unicode {

// True for every Default_Ignorable_Code_Point, assigned or reserved.
bool is_default_ignorable(char32_t c) noexcept;

// The full case folding of one character: 1 to 3 characters.
struct CaseFold {
  char32_t chars[3];
  std::uint8_t len;  // characters used in `chars`
};
// c's full case folding ("ß" and "ẞ" -> "ss", "Σ" and "ς" -> "σ"); {c} when c folds to itself.
CaseFold case_fold(char32_t c) noexcept;

// True for the nonspacing marks (general category Mn), such as U+0308 COMBINING DIAERESIS.
bool is_nonspacing_mark(char32_t c) noexcept;

// True for the enclosing marks (general category Me), such as U+20DD COMBINING ENCLOSING CIRCLE.
bool is_enclosing_mark(char32_t c) noexcept;

// The base of c when c's canonical decomposition is one character followed only by
// nonspacing marks ("ṳ" -> "u", "Ó" -> "O", "ё" -> "е"); c itself otherwise, and for marks.
char32_t strip_diacritics(char32_t c) noexcept;

// The lower-case ASCII letter that c looks like ("ƒ" -> 'f', Cyrillic "а" -> 'a'); 0 when
// c looks like no single letter, and for ASCII, Han, kana, Bopomofo, Hangul and emoji.
char confusable_letter(char32_t c) noexcept;

// True for a look-alike that is not a letter itself ("¡" looks like i): written for a
// letter inside a word, but punctuation at its edge.
bool confusable_is_symbol(char32_t c) noexcept;

// The other letter that a look-alike may stand for (Cyrillic "у" -> 'u', Greek "Ι" ->
// 'i'); 0 when confusable_letter(c) is its only reading.
char alternate_letter(char32_t c) noexcept;

namespace detail {

// The code points first to last, both included.
struct Range {
  char32_t first;
  char32_t last;
};

// True if c lies in one of the sorted, disjoint ranges.
template <std::size_t N>
constexpr bool in_ranges(const Range (&ranges)[N], char32_t c) noexcept {
  std::size_t lo = 0, hi = N;  // the range holding c, if any, is in [lo, hi)
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (c < ranges[mid].first) {
      hi = mid;
    } else if (c > ranges[mid].last) {
      lo = mid + 1;
    } else {
      return true;
    }
  }
  return false;
}

}  // namespace detail

}  // namespace tarnwhisk::unicode
