// Category and Language values beyond their last enumerator (a cast, a byte read from
// outside) have a defined meaning everywhere: no name, no built-in list, and a category
// carried through unchanged. Under the sanitizers a read past a table fails these too.
// And a language given many times is merged once.
#include "tarnwhisk/config.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwhisk {
namespace {

Tarnwhisk build_ok(TarnwhiskBuilder& b) {
  Result<Tarnwhisk> r = b.build();
  if (!r) ADD_FAILURE() << r.error();
  return std::move(r).value();
}

std::vector<WordEntry> entries_of(const Tarnwhisk& f) { return f.matcher().entries(); }

TEST(EnumRange, NamesOfEveryByteValue) {
  for (int v = 0; v < 256; ++v) {
    SCOPED_TRACE(v);
    const auto category = category_name(static_cast<Category>(v));
    const auto code = language_code(static_cast<Language>(v));
    EXPECT_EQ(category, v < 5 ? kCategoryNames[v] : std::string_view());
    EXPECT_EQ(code, v < 5 ? kLanguageCodes[v] : std::string_view());
  }
  static_assert(category_name(static_cast<Category>(200)).empty());
  static_assert(language_code(Language::De) == "de");
}

TEST(EnumRange, LanguageBeyondTheListHasNoWords) {
  for (int v : {5, 6, 128, 255}) {
    SCOPED_TRACE(v);
    const auto language = static_cast<Language>(v);
    EXPECT_TRUE(base_table(language).empty());
    EXPECT_TRUE(override_table(language).empty());
    EXPECT_TRUE(bundled_for(language).empty());

    TarnwhiskBuilder alone;
    alone.language(language);
    const Result<Tarnwhisk> r = alone.build();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), Error::Kind::NoWords);

    TarnwhiskBuilder with_english, english;
    with_english.language(language).language(Language::En).language(language);
    english.language(Language::En);
    EXPECT_EQ(entries_of(build_ok(with_english)), entries_of(build_ok(english)));
  }
}

TEST(EnumRange, CategoryBeyondSlangIsCarriedIntoHits) {
  TarnwhiskBuilder b;
  b.without_bundled(true).add_words({{"darn", static_cast<Category>(9), 4, false}});
  const Tarnwhisk f = build_ok(b);
  const std::vector<Match> hits = f.find("oh darn");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(static_cast<int>(hits[0].category), 9);
  EXPECT_EQ(category_name(hits[0].category), "");
  EXPECT_EQ(f.censor("oh darn"), "oh ****");
}

TEST(Languages, EachMergedOnceWhereFirstGiven) {
  // Repetitions change nothing: the entries (and so every word_id) are those of the
  // first appearance of each language.
  const std::vector<std::vector<Language>> orders = {
      {Language::Es, Language::En},
      {Language::Es, Language::En, Language::Es, Language::En, Language::Es},
  };
  TarnwhiskBuilder first;
  for (Language l : orders[0]) first.language(l);
  TarnwhiskBuilder repeated;
  for (Language l : orders[1]) repeated.language(l);
  for (int i = 0; i < 100000; ++i) repeated.language(Language::En);
  const Tarnwhisk a = build_ok(first);
  const Tarnwhisk b = build_ok(repeated);
  EXPECT_EQ(entries_of(a), entries_of(b));
  const std::string text = "mierda, what the fuck, damn";
  EXPECT_EQ(a.find(text), b.find(text));
}

}  // namespace
}  // namespace tarnwhisk
