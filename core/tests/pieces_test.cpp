// A long text is normalised and scanned in pieces; the hits must be exactly those of one
// pass over the whole text, at every level and in both match modes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tarnwhisk/config.hpp"

namespace tarnwhisk {
namespace {

// Characters that stress every rule a cut could break: runs, separators, letters that
// leetspeak makes, invisible characters, expansions ending in punctuation, ill-formed bytes.
const std::vector<std::string> kAlphabet = {
    "a", "b", "d", "A", " ", ".", ",", "\n", "\n", "?", "?", "'", "\"", "(", "1", "4",
    "!", "$", "_", "-", "*", "\xE2\x80\x8B" /* zero width space */,
    "\xE2\x80\xA6" /* ellipsis: three full stops */, "\xEF\xBC\x9F" /* full-width ? */,
    "\xC3\xA0" /* a grave */, "\xD0\xB0" /* Cyrillic a */, "\xE2\x82", "\xFF",
    // Text without ASCII is cut between characters too: expansions, look-alikes, letters
    // that a pattern contains and ones that none does.
    "\xEF\xB7\xBA" /* U+FDFA, eighteen characters */, "\xEF\xB7\xBA", "\xE6\x97\xA5" /* 日 */,
    "\xE6\x97\xA5", "\xE6\x9C\xAC" /* 本 */, "\xD8\xB5" /* sad */, "\xD9\x85" /* meem */,
    "\xEF\xBD\x81" /* full-width a */, "\xF0\x9F\x98\x80" /* emoji */, "\xE2\x80\x8B"};

std::string random_text(std::mt19937& rng, std::size_t chars) {
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string out;
  for (std::size_t i = 0; i < chars; ++i) out += kAlphabet[pick(rng)];
  return out;
}

std::vector<WordEntry> random_words(std::mt19937& rng) {
  static const std::vector<std::string> kWords = {"bad", "ad", "b a d", "a.d", "dab", "a?b", "bb",
                                                  "d'a", "a\nb", "(a",
                                                  "\xE6\x97\xA5\xE6\x9C\xAC", "a\xD9\x85", "\xD8\xB5"};
  std::vector<WordEntry> out;
  for (const std::string& w : kWords) {
    if (rng() % 3 == 0) out.push_back({w, Category::Strong, 2, rng() % 2 == 0});
  }
  if (out.empty()) out.push_back({"bad", Category::Strong, 2, false});
  return out;
}

TEST(Pieces, SameHitsAsOnePass) {
  std::mt19937 rng(20261207);
  const NormalizationLevel levels[] = {NormalizationLevel::None, NormalizationLevel::Basic,
                                       NormalizationLevel::Aggressive};
  for (int round = 0; round < 600; ++round) {
    const std::vector<WordEntry> words = random_words(rng);
    const NormalizationLevel level = levels[round % 3];
    const MatchMode mode = round % 2 ? MatchMode::Substring : MatchMode::WordBoundary;
    auto make = [&](std::size_t piece) {
      return TarnwhiskBuilder()
          .without_bundled(true)
          .add_words(words)
          .normalization(level)
          .match_mode(mode)
          .piece_bytes(piece)
          .build();
    };
    auto whole = make(0);
    auto cut = make(1 + rng() % 12);
    ASSERT_TRUE(whole.ok() && cut.ok());
    for (int t = 0; t < 5; ++t) {
      const std::string text = random_text(rng, 20 + rng() % 120);
      const std::vector<Match> hits = whole.value().find(text);
      ASSERT_EQ(hits, cut.value().find(text)) << "round " << round << " text '" << text << "'";
      // contains_profanity may stop at the first piece with a hit; the answer must not change.
      ASSERT_EQ(!hits.empty(), cut.value().contains_profanity(text)) << "round " << round;
    }
  }
}

TEST(Pieces, DefaultFilterOnLongText) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += i % 7 ? "nothing to see here, move on.\n" : "what the fuck? sh1t!\n";
  auto whole = TarnwhiskBuilder().piece_bytes(0).build();
  auto cut = TarnwhiskBuilder().piece_bytes(1000).build();
  ASSERT_TRUE(whole.ok() && cut.ok());
  const auto hits = whole.value().find(text);
  EXPECT_FALSE(hits.empty());
  EXPECT_EQ(hits, cut.value().find(text));
}

}  // namespace
}  // namespace tarnwhisk
