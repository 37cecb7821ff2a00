// The generated table of i's that the thorough patterns take only as i: each row must be
// the thorough form of a built-in word, or the generator's forms have drifted from the
// normaliser's and the row would never be looked up; each refused place is an i before a
// vowel. And the filter: l for i is taken elsewhere, refused there.
#include "matcher/l_for_i.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tarnwhisk/config.hpp"
#include "tarnwhisk/data.hpp"
#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {
namespace {

TEST(LForI, RowsAreFormsOfBuiltInWordsAndRefuseOnlyAnIBeforeAVowel) {
  std::map<std::string, std::uint64_t> rows;
  for (Language lang : {Language::En, Language::Es, Language::Hi, Language::Fr, Language::De}) {
    for (const WordEntry& e : bundled_for(lang)) {
      const std::string form = normalize(e.word, NormalizationLevel::Thorough).text;
      if (const std::uint64_t refused = l_for_i_refused(form)) rows[form] = refused;
    }
  }
  // "darkie" is "darkle", "titties" "tittles", "fiotte" "flotte", "coochie" "coochle".
  EXPECT_EQ(rows.size(), 4u);
  for (const auto& [form, refused] : rows) {
    for (std::size_t k = 0; k < 64; ++k) {
      if (!(refused >> k & 1)) continue;
      ASSERT_LT(k + 1, form.size()) << form;
      EXPECT_EQ(form[k], 'i') << form << " " << k;
      EXPECT_NE(std::string("aeou").find(form[k + 1]), std::string::npos) << form << " " << k;
    }
  }
  EXPECT_EQ(l_for_i_refused("fuck"), 0u);
  EXPECT_EQ(l_for_i_refused(""), 0u);
}

TEST(LForI, FilterTakesLForIButWhereItSpellsAWord) {
  TarnwhiskBuilder b;
  b.normalization(NormalizationLevel::Thorough).language(Language::En);
  auto f = b.build();
  ASSERT_TRUE(f.ok());
  for (const char* found : {"dlck", "bltch", "creample", "darkie", "mlerda", "c00chie"})
    EXPECT_TRUE(f.value().contains_profanity(found)) << found;
  for (const char* clean : {"darkle", "tittles", "coochle"})
    EXPECT_FALSE(f.value().contains_profanity(clean)) << clean;
}

}  // namespace
}  // namespace tarnwhisk
