// The built-in word tables and merge(): the tables keep the shape callers and moderators
// rely on (counts, strict rule, letter case, overlaps between languages), merge folds
// rows by lower-cased text with the last row winning, and every built-in word is found
// when it stands in a sentence.
#include "tarnwhisk/data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tarnwhisk/config.hpp"
#include "utf8.hpp"

namespace tarnwhisk {
namespace {

constexpr Language kLanguages[] = {Language::En, Language::Es, Language::Hi, Language::Fr,
                                   Language::De};

bool is_ascii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

// Entries in a comparable order, so that results of unspecified order can be compared.
std::vector<WordEntry> sorted(std::vector<WordEntry> entries) {
  std::sort(entries.begin(), entries.end(), [](const WordEntry& a, const WordEntry& b) {
    return std::tie(a.word, a.category, a.severity, a.strict) <
           std::tie(b.word, b.category, b.severity, b.strict);
  });
  return entries;
}

TEST(BuiltinTables, ShapeOfEachLanguage) {
  struct Expect {
    Language language;
    std::size_t base, overrides, merged, with_space, non_ascii, strict, min_len, max_len;
    std::size_t capitalised;  // texts that begin with A to Z; no other capitals anywhere
  };
  const Expect expects[] = {
      {Language::En, 403, 14, 410, 124, 1, 136, 2, 27, 0},
      {Language::Es, 68, 0, 68, 10, 10, 10, 3, 20, 61},
      {Language::Hi, 119, 0, 119, 41, 0, 41, 4, 22, 0},
      {Language::Fr, 91, 0, 91, 11, 18, 12, 3, 21, 1},
      {Language::De, 66, 0, 66, 0, 6, 1, 4, 15, 1},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(language_code(e.language));
    const auto base = base_table(e.language);
    EXPECT_EQ(base.size(), e.base);
    EXPECT_EQ(override_table(e.language).size(), e.overrides);
    EXPECT_EQ(bundled_for(e.language).size(), e.merged);

    std::size_t with_space = 0, non_ascii = 0, strict = 0, capitalised = 0;
    std::size_t min_len = SIZE_MAX, max_len = 0;
    std::set<std::string> lowered;
    for (const WordRow& row : base) {
      SCOPED_TRACE(std::string(row.text));
      const std::string_view t = row.text;
      const bool has_space = t.find(' ') != std::string_view::npos;
      with_space += has_space;
      non_ascii += !is_ascii(t);
      strict += row.strict;
      min_len = std::min(min_len, t.size());
      max_len = std::max(max_len, t.size());
      EXPECT_EQ(row.category, Category::Strong);
      EXPECT_EQ(row.severity, 2);
      EXPECT_EQ(row.strict, has_space || t.size() >= 12);
      EXPECT_TRUE(lowered.insert(ascii_lower(t)).second) << "duplicate after lower-casing";
      // Phrases: single spaces between words, none at either end.
      ASSERT_FALSE(t.empty());
      EXPECT_NE(t.front(), ' ');
      EXPECT_NE(t.back(), ' ');
      EXPECT_EQ(t.find("  "), std::string_view::npos);
      capitalised += is_upper(t.front());
      EXPECT_TRUE(std::none_of(t.begin() + 1, t.end(), is_upper));
      if (e.language == Language::Hi) {
        EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](char c) { return c == ' ' || (c >= 'a' && c <= 'z'); }));
      }
    }
    EXPECT_EQ(with_space, e.with_space);
    EXPECT_EQ(non_ascii, e.non_ascii);
    EXPECT_EQ(strict, e.strict);
    EXPECT_EQ(min_len, e.min_len);
    EXPECT_EQ(max_len, e.max_len);
    EXPECT_EQ(capitalised, e.capitalised);
  }
}

TEST(BuiltinTables, EnglishOverridesAndMergedWeights) {
  const auto overrides = override_table(Language::En);
  std::set<std::string> base_words;
  for (const WordRow& row : base_table(Language::En)) base_words.insert(ascii_lower(row.text));

  std::map<std::tuple<Category, int, bool>, int> kinds;
  std::size_t replacing = 0;
  for (const WordRow& row : overrides) {
    ++kinds[{row.category, row.severity, row.strict}];
    replacing += base_words.count(ascii_lower(row.text));
  }
  const std::map<std::tuple<Category, int, bool>, int> expected_kinds = {
      {{Category::Mild, 1, false}, 5},   {{Category::Strong, 3, true}, 4},
      {{Category::Strong, 3, false}, 3}, {{Category::Sexual, 3, true}, 1},
      {{Category::Sexual, 3, false}, 1},
  };
  EXPECT_EQ(kinds, expected_kinds);
  EXPECT_EQ(replacing, 7u);

  std::map<Category, int> by_category;
  std::map<int, int> by_severity;
  std::map<std::string, WordEntry> by_word;
  for (const WordEntry& e : bundled_for(Language::En)) {
    ++by_category[e.category];
    ++by_severity[e.severity];
    EXPECT_TRUE(by_word.emplace(ascii_lower(e.word), e).second) << e.word;
  }
  EXPECT_EQ(by_category, (std::map<Category, int>{{Category::Mild, 5}, {Category::Strong, 403},
                                                  {Category::Sexual, 2}}));
  EXPECT_EQ(by_severity, (std::map<int, int>{{1, 5}, {2, 396}, {3, 9}}));
  // Every override row is in the result exactly as written, replacing any base row.
  for (const WordRow& row : overrides) {
    EXPECT_EQ(by_word.at(ascii_lower(row.text)),
              (WordEntry{std::string(row.text), row.category, row.severity, row.strict}));
  }
  for (const char* mild : {"damn", "hell", "crap"}) {
    EXPECT_EQ(by_word.at(mild).category, Category::Mild) << mild;
    EXPECT_EQ(by_word.at(mild).severity, 1) << mild;
  }
}

// Words shared between languages are held once per byte-equal text by a multi-language
// filter, so how many there are (and of which kind) is part of what the tables promise.
TEST(BuiltinTables, WordsSharedBetweenLanguages) {
  std::map<std::string, std::vector<std::string>> spellings;  // lower-cased -> one per language
  for (Language language : kLanguages) {
    for (const WordRow& row : base_table(language)) {
      spellings[ascii_lower(row.text)].emplace_back(row.text);
    }
  }
  int byte_equal = 0, case_differs = 0;
  for (const auto& [word, texts] : spellings) {
    EXPECT_LE(texts.size(), 2u) << word << " is in three or more lists";
    if (texts.size() == 2) ++(texts[0] == texts[1] ? byte_equal : case_differs);
  }
  EXPECT_EQ(byte_equal, 8);
  EXPECT_EQ(case_differs, 5);

  for (const WordRow& row : override_table(Language::En)) {
    for (Language language : kLanguages) {
      if (language == Language::En) continue;
      for (const WordRow& other : base_table(language)) {
        EXPECT_NE(ascii_lower(other.text), ascii_lower(row.text))
            << row.text << " also in " << language_code(language);
      }
    }
  }
}

TEST(Merge, LaterRowsReplaceEarlierOnesWholly) {
  constexpr Category S = Category::Strong, M = Category::Mild, X = Category::Sexual;
  struct Case {
    const char* name;
    std::vector<WordRow> base, overrides;
    std::vector<WordEntry> expected;
  };
  const Case cases[] = {
      {"empty", {}, {}, {}},
      {"distinct words all kept",
       {{"alpha", S, 2, false}, {"beta gamma", S, 2, true}},
       {{"delta", M, 1, false}},
       {{"alpha", S, 2, false}, {"beta gamma", S, 2, true}, {"delta", M, 1, false}}},
      {"override replaces text, category, severity and strict",
       {{"Alpha", S, 2, false}, {"beta", S, 2, false}},
       {{"aLPHA", X, 3, true}},
       {{"aLPHA", X, 3, true}, {"beta", S, 2, false}}},
      {"later base row wins within the base",
       {{"word", S, 2, false}, {"WORD", M, 1, true}},
       {},
       {{"WORD", M, 1, true}}},
      {"last override wins",
       {{"word", S, 2, false}},
       {{"Word", M, 1, false}, {"wOrd", X, 0, true}},
       {{"wOrd", X, 0, true}}},
      {"only A to Z are folded",
       {{"\xC3\xA9t\xC3\xA9", S, 2, false}, {"\xC3\x89T\xC3\x89", S, 2, false}},
       {{"\xC3\xA9T\xC3\xA9", M, 255, false}},
       {{"\xC3\x89T\xC3\x89", S, 2, false}, {"\xC3\xA9T\xC3\xA9", M, 255, false}}},
      {"empty text is a word like any other",
       {{"", S, 2, false}},
       {{"", M, 1, true}},
       {{"", M, 1, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sorted(merge(c.base, c.overrides)), sorted(c.expected));
  }
}

TEST(Merge, TableWithItselfAsOverridesKeepsLastOccurrences) {
  constexpr Category S = Category::Strong, M = Category::Mild;
  const std::vector<WordRow> with_repeats = {
      {"one", S, 2, false}, {"ONE", M, 1, true}, {"two", S, 3, false}, {"One", S, 7, false}};
  EXPECT_EQ(sorted(merge(with_repeats, with_repeats)),
            sorted({{"One", S, 7, false}, {"two", S, 3, false}}));

  for (Language language : kLanguages) {
    SCOPED_TRACE(language_code(language));
    const auto base = base_table(language);
    std::vector<WordEntry> rows;
    for (const WordRow& r : base) rows.push_back({std::string(r.text), r.category, r.severity, r.strict});
    EXPECT_EQ(sorted(merge(base, base)), sorted(rows));
  }
}

TEST(Merge, BundledForIsRepeatable) {
  for (Language language : kLanguages) {
    SCOPED_TRACE(language_code(language));
    EXPECT_EQ(sorted(bundled_for(language)), sorted(bundled_for(language)));
  }
}

// Each language's filter finds each of its words standing in a sentence, whatever the
// normalisation does to the word: pattern and text are normalised alike.
TEST(BuiltinTables, EveryWordIsFoundInASentence) {
  for (Language language : kLanguages) {
    SCOPED_TRACE(language_code(language));
    auto built = TarnwhiskBuilder().language(language).build();
    ASSERT_TRUE(built.ok()) << built.error().to_string();
    const Tarnwhisk& filter = built.value();
    for (const WordEntry& entry : bundled_for(language)) {
      const std::string text = "so " + entry.word + " there";
      const std::size_t start = 3, end = 3 + entry.word.size();
      const auto hits = filter.find(text);
      EXPECT_TRUE(std::any_of(hits.begin(), hits.end(),
                              [&](const Match& m) { return m.start <= start && m.end >= end; }))
          << "not found: \"" << text << "\" (" << hits.size() << " hits)";
    }
  }
}

}  // namespace
}  // namespace tarnwhisk
