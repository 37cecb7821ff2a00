// The generated Unicode tables of the thorough level: known entries of each table, the
// characters that must come through untouched, properties that hold over every code
// point, and disguised words put through the per-character order that unicode_tables.hpp
// describes.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "normalize/unicode_tables.hpp"

namespace tarnwhisk::unicode {
namespace {

constexpr char32_t kLast = 0x10FFFF;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

bool is_removed_mark(char32_t c) { return is_nonspacing_mark(c) || is_enclosing_mark(c); }

std::u32string folded(char32_t c) {
  const CaseFold f = case_fold(c);
  return std::u32string(f.chars, f.len);
}

// A letter from a look-alike: its second reading if asked for and there is one.
char32_t letter(char32_t c, bool second) {
  const char a = second ? alternate_letter(c) : 0;
  return static_cast<char32_t>(a != 0 ? a : confusable_letter(c));
}

// The text, character by character, in the order unicode_tables.hpp gives.
std::u32string fold_text(std::u32string_view text, bool second = false) {
  std::u32string out;
  for (char32_t c : text) {
    if (is_default_ignorable(c) || is_removed_mark(c)) continue;
    if (confusable_letter(c) != 0) {
      out += letter(c, second);
      continue;
    }
    for (char32_t x : folded(c)) {
      const char32_t y = strip_diacritics(x);
      if (is_removed_mark(y)) continue;
      out += confusable_letter(y) != 0 ? letter(y, second) : y;
    }
  }
  return out;
}

// ---- known entries ---------------------------------------------------------------

TEST(UnicodeTables, DefaultIgnorable) {
  const struct { char32_t c; bool ignorable; } cases[] = {
      {0x00AD, true},   // soft hyphen
      {0x034F, true},   // combining grapheme joiner
      {0x061C, true},   // Arabic letter mark
      {0x115F, true},   // Hangul choseong filler
      {0x180E, true},   // Mongolian vowel separator
      {0x200B, true},   {0x200D, true}, {0x200F, true}, {0x202E, true},
      {0x2060, true},   // word joiner
      {0x2062, true},   // invisible times
      {0x2065, true},   // reserved, yet ignorable
      {0x3164, true},   // Hangul filler
      {0xFE0F, true},   // variation selector 16
      {0xFEFF, true},   {0xFFA0, true},
      {0xFFF0, true},   // reserved
      {0x1BCA0, true},  // shorthand format letter overlap
      {0x1D173, true},  // musical symbol begin beam
      {0xE0001, true},  {0xE0041, true},  // tags
      {0xE0FFF, true},  // reserved, last of the tag block's neighbours
      {0x0020, false},  {0x00A0, false},  // spaces are not ignorable
      {0x00AC, false},  {0x00AE, false},  // around the soft hyphen
      {0x200A, false},  {0x2010, false},  {0x2028, false},
      {0xFFF9, false},  // interlinear annotation anchor: shown, so not ignorable
      {0x0600, false},  // prepended concatenation mark
      {0x13430, false},  // Egyptian hieroglyph format control
      {0x1BCA4, false}, {0xE1000, false}, {0x1F600, false},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(is_default_ignorable(t.c), t.ignorable) << std::hex << "U+" << unsigned(t.c);
  }
}

TEST(UnicodeTables, CaseFold) {
  const struct { char32_t c; std::u32string fold; } cases[] = {
      {U'A', U"a"}, {U'Z', U"z"}, {U'a', U"a"}, {U'@', U"@"}, {U'[', U"["},
      {0x00DF, U"ss"},                // ß
      {0x1E9E, U"ss"},                // ẞ
      {0x03A3, U"\u03C3"},            // Σ
      {0x03C2, U"\u03C3"},            // final ς folds as σ
      {0x03C3, U"\u03C3"},
      {0x0130, U"i\u0307"},           // İ: the F mapping, not the Turkic one
      {0x0049, U"i"},                 // I, likewise
      {0x0131, U"\u0131"},            // ı has no fold
      {0x0149, U"\u02BCn"},           // ŉ
      {0x01F0, U"j\u030C"},           // ǰ
      {0x0390, U"\u03B9\u0308\u0301"},  // ΐ: three characters
      {0xFB03, U"ffi"},               // ﬃ
      {0x1FB3, U"\u03B1\u03B9"},      // ᾳ
      {0x0345, U"\u03B9"},            // combining ypogegrammeni
      {0x00B5, U"\u03BC"},            // micro sign
      {0x212A, U"k"},                 // Kelvin sign
      {0x212B, U"\u00E5"},            // Ångström sign
      {0x0100, U"\u0101"}, {0x012E, U"\u012F"}, {0x0101, U"\u0101"},  // a run by twos
      {0x0178, U"\u00FF"},            // Ÿ
      {0x0410, U"\u0430"}, {0x0401, U"\u0451"},  // Cyrillic А, Ё
      {0x13A0, U"\u13A0"}, {0xAB70, U"\u13A0"},  // Cherokee folds to capitals
      {0x10400, U"\U00010428"},       // Deseret
      {0x1E900, U"\U0001E922"},       // Adlam
      {0x1DF95, U"ss"},
      {0x4E00, U"\u4E00"}, {0x1F600, U"\U0001F600"},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(folded(t.c), t.fold) << std::hex << "U+" << unsigned(t.c);
  }
}

TEST(UnicodeTables, MarksAndDiacritics) {
  const struct { char32_t c; bool nonspacing, enclosing; char32_t base; } cases[] = {
      {0x0300, true, false, 0x0300},   {0x0308, true, false, 0x0308},
      {0x036F, true, false, 0x036F},   {0x0344, true, false, 0x0344},  // a mark stays a mark
      {0x0F73, true, false, 0x0F73},
      {0x20DD, false, true, 0x20DD},   // combining enclosing circle
      {0x20E3, false, true, 0x20E3},   // keycap
      {0x0488, false, true, 0x0488},
      {0x093E, false, false, 0x093E},  // spacing mark: Devanagari vowel sign aa
      {0x0903, false, false, 0x0903},
      {0x00FC, false, false, U'u'},    // ü
      {0x00DC, false, false, U'U'},    // Ü
      {0x1E73, false, false, U'u'},    // ṳ
      {0x01D6, false, false, U'u'},    // ǖ: two marks
      {0x00D3, false, false, U'O'},    // Ó
      {0x00E7, false, false, U'c'},    // ç
      {0x212B, false, false, U'A'},    // Ångström sign, through Å
      {0x0451, false, false, 0x0435},  // ё -> Cyrillic е
      {0x03AC, false, false, 0x03B1},  // ά
      {0x1FFC, false, false, 0x03A9},  // ῼ
      {0x0958, false, false, 0x0915},  // Devanagari qa -> ka
      {0xFB2A, false, false, 0x05E9},  // Hebrew shin with shin dot
      {0x00F8, false, false, 0x00F8},  // ø has no decomposition
      {0x0142, false, false, 0x0142},  // ł
      {0x212A, false, false, 0x212A},  // Kelvin sign: a bare canonical singleton
      {0xAC00, false, false, 0xAC00},  // Hangul syllable: its jamo are letters
      {0x09CB, false, false, 0x09CB},  // Bengali vowel sign o: two spacing marks
      {0x304C, false, false, 0x304B},  // hiragana ga -> ka: the voicing mark goes too
      {U'a', false, false, U'a'},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(is_nonspacing_mark(t.c), t.nonspacing) << std::hex << "U+" << unsigned(t.c);
    EXPECT_EQ(is_enclosing_mark(t.c), t.enclosing) << std::hex << "U+" << unsigned(t.c);
    EXPECT_EQ(strip_diacritics(t.c), t.base) << std::hex << "U+" << unsigned(t.c);
  }
}

TEST(UnicodeTables, LookAlikes) {
  const struct { char32_t c; char looks, reads; } cases[] = {
      {0x0192, 'f', 0},    // ƒ
      {0xA731, 's', 0},    // ꜱ
      {0x0430, 'a', 0},    // Cyrillic а
      {0x0410, 'a', 0},    // Cyrillic А
      {0x03BF, 'o', 0},    // Greek ο
      {0x039D, 'n', 'v'},  // Greek Ν looks like N; its lower case ν like v
      {0x03BD, 'v', 0},    // Greek ν
      {0x0443, 'y', 'u'},  // Cyrillic у
      {0x0423, 'y', 'u'},  // Cyrillic У
      {0x0399, 'l', 'i'},  // Greek Ι
      {0x0406, 'l', 'i'},  // Cyrillic І
      {0x017F, 'f', 's'},  // ſ
      {0x1D644, 'l', 'i'}, // mathematical sans-serif bold italic capital I: a style of I
      {0x1D574, 'l', 'i'}, // mathematical bold fraktur capital I
      {0x1D5C5, 'l', 0},   // mathematical sans-serif small l: a style of l, nothing else
      {0x13A0, 'd', 'a'},  // Cherokee letter a
      {0x0131, 'i', 0},    // ı
      {0x0455, 's', 0},    // Cyrillic ѕ
      {0x0D02, 'o', 0},    // a spacing mark that looks like o
      {0xFF10, 'o', 0},    // full-width digit zero
      {0x00E9, 0, 0},      // é: stripped, not looked up
      {0x03B2, 0, 0},      // Greek β: no single-letter look-alike
      {0x0432, 0, 0},      // Cyrillic в
      {0x00A0, 0, 0}, {0x1F600, 0, 0},
      // Characters of CJK text and emoji keep their identity, look-alikes or not.
      {0x4E05, 0, 0},  // 丅, like T
      {0x3007, 0, 0},  // ideographic number zero
      {0x3147, 0, 0},  // Hangul letter ieung, like o
      {0x3112, 0, 0},  // Bopomofo letter x, like T
      {0x2139, 0, 0},  // information source emoji, like i
  };
  for (const auto& t : cases) {
    EXPECT_EQ(confusable_letter(t.c), t.looks) << std::hex << "U+" << unsigned(t.c);
    EXPECT_EQ(alternate_letter(t.c), t.reads) << std::hex << "U+" << unsigned(t.c);
  }
}

// ---- what must not change ----------------------------------------------------------

TEST(UnicodeTables, AsciiIsOnlyCaseFolded) {
  for (char32_t c = 0; c < 0x80; ++c) {
    const bool upper = c >= U'A' && c <= U'Z';
    EXPECT_EQ(folded(c), std::u32string(1, upper ? c + 0x20 : c)) << unsigned(c);
    EXPECT_FALSE(is_default_ignorable(c)) << unsigned(c);
    EXPECT_FALSE(is_removed_mark(c)) << unsigned(c);
    EXPECT_EQ(strip_diacritics(c), c) << unsigned(c);
    EXPECT_EQ(confusable_letter(c), 0) << unsigned(c);
    EXPECT_EQ(alternate_letter(c), 0) << unsigned(c);
  }
}

TEST(UnicodeTables, IdeographsSyllablesAndEmojiPassThrough) {
  const struct { char32_t first, last; } blocks[] = {
      {0x4E00, 0x9FFF},    // CJK unified ideographs
      {0xAC00, 0xD7A3},    // Hangul syllables
      {0x20000, 0x2A6DF},  // CJK extension B
      {0x1F300, 0x1F64F},  // pictographs and emoticons
      {0x1F900, 0x1F9FF},  // supplemental pictographs
  };
  for (const auto& b : blocks) {
    for (char32_t c = b.first; c <= b.last; ++c) {
      ASSERT_EQ(fold_text(std::u32string(1, c)), std::u32string(1, c)) << std::hex << unsigned(c);
    }
  }
}

// ---- properties over every code point ------------------------------------------------

// How many code points each table holds, counted through the lookups, so that a search
// that misses the first or last entry of a table, or a run step, shows. These are the
// figures of the Unicode 18.0 data; a new version of the data changes them.
TEST(UnicodeTables, EveryEntryIsFound) {
  std::size_t ignorable = 0, nonspacing = 0, enclosing = 0, folds = 0, long_folds = 0,
              stripped = 0, look_alikes = 0, second = 0;
  for (char32_t c = 0; c <= kLast; ++c) {
    ignorable += is_default_ignorable(c);
    nonspacing += is_nonspacing_mark(c);
    enclosing += is_enclosing_mark(c);
    const CaseFold f = case_fold(c);
    folds += f.len > 1 || f.chars[0] != c;
    long_folds += f.len > 1;
    stripped += strip_diacritics(c) != c;
    look_alikes += confusable_letter(c) != 0;
    second += alternate_letter(c) != 0;
  }
  EXPECT_EQ(ignorable, 4174u);
  EXPECT_EQ(nonspacing, 2090u);
  EXPECT_EQ(enclosing, 13u);
  EXPECT_EQ(folds, 1606u);
  EXPECT_EQ(long_folds, 105u);
  EXPECT_EQ(stripped, 982u);
  EXPECT_EQ(look_alikes, 1437u);
  EXPECT_EQ(second, 50u);
}

TEST(UnicodeTables, PropertiesOfEveryCodePoint) {
  for (char32_t c = 0; c <= kLast; ++c) {
    const CaseFold f = case_fold(c);
    ASSERT_GE(f.len, 1) << std::hex << unsigned(c);
    ASSERT_LE(f.len, 3) << std::hex << unsigned(c);
    for (std::size_t i = 0; i < f.len; ++i) {  // a folded character folds to itself
      ASSERT_EQ(folded(f.chars[i]), std::u32string(1, f.chars[i])) << std::hex << unsigned(c);
    }
    if (is_surrogate(c)) {
      ASSERT_EQ(folded(c), std::u32string(1, c));
      ASSERT_FALSE(is_default_ignorable(c) || is_removed_mark(c) || confusable_letter(c));
    }
    ASSERT_FALSE(is_nonspacing_mark(c) && is_enclosing_mark(c)) << std::hex << unsigned(c);

    const char32_t base = strip_diacritics(c);
    if (base != c) {  // a base is final, and never a removed mark
      ASSERT_FALSE(is_removed_mark(c)) << std::hex << unsigned(c);
      ASSERT_FALSE(is_removed_mark(base)) << std::hex << unsigned(c);
      ASSERT_EQ(strip_diacritics(base), base) << std::hex << unsigned(c);
    }

    const char looks = confusable_letter(c), reads = alternate_letter(c);
    if (looks != 0) {
      ASSERT_TRUE(looks >= 'a' && looks <= 'z') << std::hex << unsigned(c);
    }
    if (reads != 0) {
      ASSERT_TRUE(reads >= 'a' && reads <= 'z') << std::hex << unsigned(c);
      ASSERT_NE(looks, 0) << std::hex << unsigned(c);
      ASSERT_NE(reads, looks) << std::hex << unsigned(c);
    }

    // The order of the steps never has to choose: what is deleted has nothing else to
    // undo, and a look-alike has no diacritic to strip first.
    if (is_default_ignorable(c) || is_removed_mark(c)) {
      ASSERT_EQ(looks, 0) << std::hex << unsigned(c);
      ASSERT_EQ(base, c) << std::hex << unsigned(c);
    }
    if (looks != 0) {
      ASSERT_EQ(base, c) << std::hex << unsigned(c);
    }
  }
}

TEST(UnicodeTables, ValuesBeyondUnicodeBelongToNothing) {
  for (char32_t c : {char32_t{0x110000}, char32_t{0x7FFFFFFF}, char32_t{0xFFFFFFFF}}) {
    EXPECT_EQ(folded(c), std::u32string(1, c));
    EXPECT_FALSE(is_default_ignorable(c));
    EXPECT_FALSE(is_removed_mark(c));
    EXPECT_EQ(strip_diacritics(c), c);
    EXPECT_EQ(confusable_letter(c), 0);
    EXPECT_EQ(alternate_letter(c), 0);
  }
}

// ---- disguised words ---------------------------------------------------------------

TEST(UnicodeTables, DisguisedWordsComeDownToPlainLetters) {
  const struct { std::u32string text, first, second; } cases[] = {
      {U"f\u00FCck", U"fuck", U"fuck"},                         // ü
      {U"fu\u0308ck", U"fuck", U"fuck"},                        // u + combining diaeresis
      {U"f\u1E73ck", U"fuck", U"fuck"},                         // ṳ
      {U"s\u0301h\u0301i\u0301t\u0301", U"shit", U"shit"},
      {U"CABR\u00D3N", U"cabron", U"cabron"},
      {U"SCHEI\u1E9EE", U"scheisse", U"scheisse"},              // ẞ
      {U"sh\u00ADi\u200Bt\uFE0F", U"shit", U"shit"},            // invisible characters
      {U"f\u20DDu\u20DDc\u20DDk\u20DD", U"fuck", U"fuck"},      // enclosing circles
      {U"f\u0443ck", U"fyck", U"fuck"},                         // Cyrillic у
      {U"\u0405\u0397\u0399\u03A4", U"shlt", U"shit"},         // Cyrillic Ѕ, Greek ΗΙΤ
      {U"\u039D\u039F", U"no", U"vo"},                          // Greek ΝΟ
      {U"\u0130DIOT", U"idiot", U"idiot"},                      // İ: its dot is a mark
      {U"\u017Fhit", U"fhit", U"shit"},                         // ſ
      {U"\u00C6SIR", U"\u00E6sir", U"\u00E6sir"},               // Æ stays a letter of its own
  };
  for (const auto& t : cases) {
    EXPECT_EQ(fold_text(t.text), t.first);
    EXPECT_EQ(fold_text(t.text, true), t.second);
  }
}

}  // namespace
}  // namespace tarnwhisk::unicode
