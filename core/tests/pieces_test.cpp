// A long text is normalised and scanned in pieces, whatever its content; the hits must be
// exactly those of one pass over the whole text, at every level, in both match modes,
// with an allowlist, for pieces of one byte to a mebibyte, and for a source cut anywhere
// (inside characters too).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hit_stream.hpp"
#include "tarnwhisk/config.hpp"

namespace tarnwhisk {
namespace {

// Characters that stress every rule a cut could break: runs, separators, letters that
// leetspeak makes, invisible characters, expansions ending in punctuation, ill-formed bytes.
const std::vector<std::string> kAlphabet = {
    "a", "b", "d", "A", " ", ".", ",", "\n", "\n", "?", "?", "'", "\"", "(", "1", "4",
    "!", "$", "@", "i", "s", "_", "-", "*", "\xE2\x80\x8B" /* zero width space */,
    "\xEF\xBC\x81" /* full-width ! */, "\xE2\x80\xBC" /* double ! */, "|", "1", "c", "k",
    "\xC2\xAD" /* soft hyphen */, "\xC3\xBC" /* u umlaut */, "\xD1\x83" /* Cyrillic u */,
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
                                                  "d'a", "a\nb", "(a", "as", "bis", "sad",
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
                                       NormalizationLevel::Aggressive, NormalizationLevel::Thorough};
  for (int round = 0; round < 600; ++round) {
    const std::vector<WordEntry> words = random_words(rng);
    const NormalizationLevel level = levels[round % 4];
    const MatchMode mode = round % 2 ? MatchMode::Substring : MatchMode::WordBoundary;
    std::vector<std::string> allowlist;
    if (round % 4 == 0) allowlist = {"ad", "b\xE2\x80\x8B"};
    auto make = [&](std::size_t piece) {
      return TarnwhiskBuilder()
          .without_bundled(true)
          .add_words(words)
          .allowlist(allowlist)
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

// Texts without a byte that no word contains (letters and spaces only, at every level)
// and long ones, in pieces from one byte to a mebibyte.
TEST(Pieces, AnyContentAnyPieceSize) {
  std::mt19937 rng(7);
  const std::vector<std::string> letters = {"a", "b", "d", "s", "i", " ", " ", "!", "@", "$", "aaa", "  "};
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{64}, std::size_t{4093},
                            std::size_t{1} << 16, std::size_t{1} << 20}) {
    for (NormalizationLevel level : {NormalizationLevel::None, NormalizationLevel::Basic, NormalizationLevel::Aggressive,
                                     NormalizationLevel::Thorough}) {
      std::vector<WordEntry> words = {{"bad", Category::Strong, 2, false}, {"as", Category::Strong, 2, false},
                                      {"a b", Category::Strong, 2, false}, {"dab", Category::Strong, 2, true}};
      auto whole = TarnwhiskBuilder().without_bundled(true).add_words(words).normalization(level).piece_bytes(0).build();
      auto cut = TarnwhiskBuilder().without_bundled(true).add_words(words).normalization(level).piece_bytes(piece).build();
      ASSERT_TRUE(whole.ok() && cut.ok());
      const std::size_t length = piece >= 4093 ? 3 * piece + 17 : 5000;
      std::string text;
      while (text.size() < length) text += letters[rng() % letters.size()];
      const std::vector<Match> hits = whole.value().find(text);
      ASSERT_FALSE(hits.empty());
      ASSERT_EQ(hits, cut.value().find(text)) << "piece " << piece << " level " << int(level);
    }
  }
}

// A source cut at any byte, also inside a character, through the stream the long road uses.
TEST(Pieces, BytesCutAnywhere) {
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    const std::vector<WordEntry> words = random_words(rng);
    const NormalizationLevel level = static_cast<NormalizationLevel>(round % 4);
    const MatchMode mode = round % 2 ? MatchMode::Substring : MatchMode::WordBoundary;
    auto m = Matcher::create(words);
    ASSERT_TRUE(m.ok());
    const std::string text = random_text(rng, 10 + rng() % 200);
    std::vector<Match> want = m.value().scan(normalize(text, level), mode);
    HitStream stream(m.value(), level, mode);
    std::vector<Match> got;
    for (std::size_t from = 0; from < text.size();) {
      const std::size_t n = std::min<std::size_t>(text.size() - from, rng() % 6);
      stream.feed_bytes(std::string_view(text).substr(from, n), got);
      from += n;
    }
    stream.finish(got);
    ASSERT_EQ(got, want) << "round " << round << " text '" << text << "'";
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
