// Each normalisation stage on its own: what it makes of a text and which offset-map rule
// (copy, repeat, merge, drop) it applies. The inputs are source texts with one entry per
// character, so the expected offsets read directly as source byte ranges.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "normalize/stages.hpp"
#include "reference/naive_normalize.hpp"

namespace tarnwhisk {

void PrintTo(const SourceRange& r, std::ostream* os) { *os << "(" << r.start << "," << r.end << ")"; }
namespace reference {
void PrintTo(const Char& c, std::ostream* os) {
  *os << "U+" << std::hex << static_cast<unsigned>(c.cp) << std::dec << " (" << c.entry.start
      << "," << c.entry.end << ")";
}
}  // namespace reference

namespace {

using Offsets = std::vector<SourceRange>;
using Stage = std::function<NormalizedText(NormalizedText)>;

struct Case {
  std::string input;
  std::string text;
  Offsets offsets;  // empty with `same_offsets`: the input's own offsets
  bool same_offsets = false;
};

void run_cases(const Stage& stage, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const NormalizedText in = source_copy(c.input);
    const NormalizedText out = stage(in);
    EXPECT_EQ(out.text, c.text) << "input: " << c.input;
    EXPECT_EQ(out.offsets, c.same_offsets ? in.offsets : c.offsets) << "input: " << c.input;
  }
}

// ---- strip_bidi -------------------------------------------------------------------

TEST(StripBidi, DropsRemovedCharactersAndTheirEntries) {
  run_cases(strip_bidi::apply, {
      {"a\u200Bb", "ab", {{0, 1}, {4, 5}}},
      {"a\u00A0b", "ab", {{0, 1}, {3, 4}}},  // a no-break space joins the two sides
      {"\uFEFFab\u2069", "ab", {{3, 4}, {4, 5}}},
      {"\u200E\u202A\u202E\u2066\u2067\u2068\u2069\u2007\u202F\u200C\u200D", "", {}},
      {"", "", {}},
  });
}

TEST(StripBidi, KeepsNeighboursOfTheRemovalSet) {
  run_cases(strip_bidi::apply, {
      {"\u2008\u2009\u200A\u2010\u2029\u2030\u2060\u2061\u2064\u2065\u00AD",
       "\u2008\u2009\u200A\u2010\u2029\u2030\u2060\u2061\u2064\u2065\u00AD", {}, true},
  });
}

TEST(StripBidi, RemovesExactlyTheEighteenOnEveryCodePoint) {
  std::size_t removed = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const bool ref = reference::strip_bidi({{c, {0, 1}}}).empty();
    ASSERT_EQ(strip_bidi::removes(c), ref) << std::hex << static_cast<unsigned>(c);
    removed += ref;
  }
  EXPECT_EQ(removed, 18u);
}

TEST(StripBidi, IllFormedBytesCannotJoinAcrossADroppedCharacter) {
  // E2 | E2 80 8B (zero width space) | 80 80: dropping the space must not leave the
  // valid sequence E2 80 80, which would make three entries one character.
  run_cases(strip_bidi::apply, {
      {"\xE2\u200B\x80\x80", "\uFFFD\uFFFD\uFFFD", {{0, 1}, {4, 5}, {5, 6}}},
  });
}

// ---- nfkc ---------------------------------------------------------------------------

TEST(Nfkc, ReplacesOneForOne) {
  run_cases(nfkc::apply, {
      {"\uFF21", "A", {{0, 3}}},
      {"\U0001D41F", "f", {{0, 4}}},
      {"\u2460\u00B2", "12", {{0, 3}, {3, 5}}},
      {"\u3000\u2002", "  ", {{0, 3}, {3, 6}}},
      {"\U0001CCD6", "A", {{0, 4}}},
      {"\u212B", "\u00C5", {{0, 3}}},
      {"\u00B5", "\u03BC", {{0, 2}}},
  });
}

TEST(Nfkc, RepeatsTheEntryForEveryCharacterOfTheForm) {
  run_cases(nfkc::apply, {
      {"x\uFB01", "xfi", {{0, 1}, {1, 4}, {1, 4}}},
      {"\u2122", "TM", {{0, 3}, {0, 3}}},
      {"\u00BD", "1\u20442", {{0, 2}, {0, 2}, {0, 2}}},
      {"\u2026", "...", {{0, 3}, {0, 3}, {0, 3}}},
      {"\u0344", "\u0308\u0301", {{0, 2}, {0, 2}}},
  });
}

TEST(Nfkc, NeverComposesSeparateCharacters) {
  run_cases(nfkc::apply, {
      {"e\u0301", "e\u0301", {}, true},
      {"\u00E9\uAC00", "\u00E9\uAC00", {}, true},
      {"\u1100\u1161", "\u1100\u1161", {}, true},  // jamo stay separate
      {"", "", {}},
  });
}

// ---- casefold -----------------------------------------------------------------------

TEST(Casefold, LowersAsciiCapitalsOnly) {
  run_cases(casefold::apply, {
      {"HeLLo", "hello", {}, true},
      {"AZ az@[`{", "az az@[`{", {}, true},
      {"\u00C9\u0410\u00DF\u0391", "\u00C9\u0410\u00DF\u0391", {}, true},
      {"09.,!", "09.,!", {}, true},
      {"", "", {}},
  });
}

// ---- homoglyph ----------------------------------------------------------------------

TEST(Homoglyph, FoldsLookAlikesKeepingEntries) {
  run_cases(homoglyph::apply, {
      {"\u0441\u043E\u0440", "cop", {{0, 2}, {2, 4}, {4, 6}}},
      {"\u03B1\u03B2\u03B3", "aby", {{0, 2}, {2, 4}, {4, 6}}},
      {"c\u00E0f\u00E9", "cafe", {{0, 1}, {1, 3}, {3, 4}, {4, 6}}},
      {"\u0410\u0430\u0461\u03C9", "aaww", {{0, 2}, {2, 4}, {4, 6}, {6, 8}}},
  });
}

TEST(Homoglyph, LeavesOtherLettersAlone) {
  run_cases(homoglyph::apply, {
      {"\u00C9\u00E6\u00DF\u00F0\u00F7\u00F8\u00FD\u00FF", "\u00C9\u00E6\u00DF\u00F0\u00F7\u00F8\u00FD\u00FF", {}, true},
      {"\u0391\u03AC\u03B4\u03C0\u03C3\u0436\u0460", "\u0391\u03AC\u03B4\u03C0\u03C3\u0436\u0460", {}, true},
      {"e\u0301", "e\u0301", {}, true},
      {"", "", {}},
  });
}

TEST(Homoglyph, AgreesWithTheReferenceTableOnEveryCodePoint) {
  std::size_t mapped = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const char32_t ref = reference::homoglyph({{c, {0, 1}}})[0].cp;
    ASSERT_EQ(homoglyph::fold(c), ref) << std::hex << static_cast<unsigned>(c);
    mapped += ref != c;
  }
  EXPECT_EQ(mapped, 67u);
}

// ---- leetspeak ----------------------------------------------------------------------

TEST(Leetspeak, FoldsDigitsAndSymbolsEverywhere) {
  run_cases(leetspeak::apply, {
      {"b4d", "bad", {}, true},
      {"$h0p", "shop", {}, true},
      {"h3ll0", "hello", {}, true},
      {"2024", "2o2a", {}, true},
      {"10 @ 5789!", "io a stbgi", {}, true},
      {"!!!", "iii", {}, true},
      {"26+|(~", "26+|(~", {}, true},
      {"", "", {}},
  });
}

TEST(Leetspeak, AgreesWithTheReferenceTableOnEveryByte) {
  for (char32_t c = 0; c < 0x800; ++c)
    ASSERT_EQ(leetspeak::fold(c), reference::leetspeak({{c, {0, 1}}})[0].cp) << static_cast<unsigned>(c);
}

// ---- collapse -----------------------------------------------------------------------

TEST(Collapse, MergesRunsOfThreeOrMore) {
  run_cases(collapse::apply, {
      {"baaaad", "bad", {{0, 1}, {1, 5}, {5, 6}}},
      {"goood", "god", {{0, 1}, {1, 4}, {4, 5}}},
      {"aaa", "a", {{0, 3}}},
      {"aaaaaaaa", "a", {{0, 8}}},
      {"   x...", " x.", {{0, 3}, {3, 4}, {4, 7}}},
      {"\u00E9\u00E9\u00E9", "\u00E9", {{0, 6}}},
      {"\U0001F525\U0001F525\U0001F525\U0001F525", "\U0001F525", {{0, 16}}},
  });
}

TEST(Collapse, KeepsRunsOfOneOrTwo) {
  run_cases(collapse::apply, {
      {"good", "good", {}, true},
      {"aa", "aa", {}, true},
      {"a.a.a", "a.a.a", {}, true},  // runs do not join across other characters
      {"aA", "aA", {}, true},         // equal means the same code point
      {"x", "x", {}, true},
      {"", "", {}},
  });
}

// ---- separators ---------------------------------------------------------------------

TEST(Separators, DropsRunsBetweenLetters) {
  run_cases(separators::apply, {
      {"b.a.d", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {"b a d", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {"b_a-d", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {"b|a\\d", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {"b. /a.d", "bad", {{0, 1}, {4, 5}, {6, 7}}},
      {"end. next", "endnext", {{0, 1}, {1, 2}, {2, 3}, {5, 6}, {6, 7}, {7, 8}, {8, 9}}},
      {"B\t*,:;A", "BA", {{0, 1}, {6, 7}}},
      {"a.a.a", "aaa", {{0, 1}, {2, 3}, {4, 5}}},
  });
}

TEST(Separators, KeepsRunsNotBetweenTwoLetters) {
  run_cases(separators::apply, {
      {" bad", " bad", {}, true},
      {"bad ", "bad ", {}, true},
      {"bad..", "bad..", {}, true},
      {"x2 y", "x2 y", {}, true},
      {"x 2y", "x 2y", {}, true},
      {"\u65E5 \u672C", "\u65E5 \u672C", {}, true},
      {"\u00E9.a", "\u00E9.a", {}, true},
      {"a-+-b", "a-+-b", {}, true},
      {"...", "...", {}, true},
      {"", "", {}},
  });
}

TEST(Separators, TreatsOnlyTheTwelveAsSeparators) {
  run_cases(separators::apply, {
      {"b\na", "b\na", {}, true},
      {"b\ra", "b\ra", {}, true},
      {"b+a~d=e'f\"g#h", "b+a~d=e'f\"g#h", {}, true},
  });
  for (char32_t c = 0; c < 0x800; ++c)
    ASSERT_EQ(ascii::is_separator(c), reference::is_separator(c)) << static_cast<unsigned>(c);
}

// ---- every stage against its naive counterpart ----------------------------------------

TEST(Stages, AgreeWithTheReferenceOnRandomText) {
  using Ref = std::function<reference::Chars(const reference::Chars&)>;
  const std::vector<std::pair<Stage, Ref>> stages = {
      {strip_bidi::apply, reference::strip_bidi}, {nfkc::apply, reference::nfkc},
      {casefold::apply, reference::casefold},     {homoglyph::apply, reference::homoglyph},
      {leetspeak::apply, reference::leetspeak},   {collapse::apply, reference::collapse},
      {separators::apply, reference::separators}};
  std::mt19937_64 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const std::string src = reference::disguised_text(rng, 1 + rng() % 40);
    // Feed every stage both the raw source and the text the earlier stages make of it
    // (well-formed, with repeated and merged entries).
    NormalizedText staged = source_copy(src);
    for (const auto& [stage, ref] : stages) {
      for (const NormalizedText& in : {source_copy(src), staged}) {
        // Compared as characters: casefold and leetspeak rewrite ASCII bytes in place and
        // may leave a stray byte of the raw source as it is, where the reference writes
        // U+FFFD; both count it as one character.
        const reference::Chars want = ref(reference::decode(in));
        const reference::Chars got = reference::decode(stage(in));
        ASSERT_EQ(got, want) << "source: " << src;
      }
      staged = stage(staged);
    }
  }
}

}  // namespace
}  // namespace tarnwhisk
