// The censor's four styles, its treatment of overlapping hits, and its safety for hit
// lists that break the usual preconditions.
#include "tarnwhisk/censor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hits.hpp"

namespace tarnwhisk {
namespace {

using test_support::hit;

struct Case {
  const char* name;
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> hits;
  CensorStyle style;
  char32_t mask;
  std::string expected;
};

void run(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<Match> hits;
    for (auto [s, e] : c.hits) hits.push_back(hit(s, e));
    EXPECT_EQ(censor::apply(c.text, hits, c.style, c.mask), c.expected) << c.name;
  }
}

constexpr auto LP = CensorStyle::LengthPreserving;
constexpr auto FL = CensorStyle::FirstLast;
constexpr auto FM = CensorStyle::FullMask;
constexpr auto GR = CensorStyle::Grawlix;
const std::string kBlock = "\xE2\x96\x88";  // U+2588

TEST(Censor, Styles) {
  run({
      {"length preserving", "oh damn it", {{3, 7}}, LP, U'*', "oh **** it"},
      {"length preserving, other mask", "oh damn it", {{3, 7}}, LP, U'#', "oh #### it"},
      {"first last", "oh damn it", {{3, 7}}, FL, U'*', "oh d**n it"},
      {"full mask ignores the mask", "oh damn it", {{3, 7}}, FM, U'#', "oh **** it"},
      {"full mask hides length", "a bloody b", {{2, 8}}, FM, U'*', "a **** b"},
      {"grawlix", "oh damn it", {{3, 7}}, GR, U'*', "oh #@$% it"},
      {"grawlix wraps", "123456789", {{0, 9}}, GR, U'*', "#@$%&!*#@"},
      {"grawlix restarts per hit", "abcdef", {{0, 3}, {3, 6}}, GR, U'*', "#@$#@$"},
      {"first last, 3 chars", "abc", {{0, 3}}, FL, U'*', "a*c"},
      {"first last, 2 chars", "ab", {{0, 2}}, FL, U'*', "**"},
      {"first last, 1 char", "a", {{0, 1}}, FL, U'-', "-"},
  });
}

TEST(Censor, CountsCharactersNotBytes) {
  const std::string damn = "d\xC3\xA4mn";  // 4 characters, 5 bytes
  run({
      {"multi-byte hit", damn, {{0, 5}}, LP, U'*', "****"},
      {"multi-byte hit, first last", damn, {{0, 5}}, FL, U'*', "d**n"},
      {"multi-byte mask", damn, {{0, 5}}, LP, U'\u2588', kBlock + kBlock + kBlock + kBlock},
      {"multi-byte first and last kept whole", "\xC3\xA9xx\xC3\xA9", {{0, 6}}, FL, U'*',
       "\xC3\xA9**\xC3\xA9"},
      {"grawlix over emoji", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", {{0, 8}}, GR, U'*', "#@"},
      {"invalid mask becomes U+FFFD", "ab", {{0, 1}}, LP, char32_t{0xD800}, "\xEF\xBF\xBD" "b"},
  });
}

TEST(Censor, HitOrderAndOverlap) {
  run({
      {"no hits", "oh damn it", {}, FM, U'*', "oh damn it"},
      {"overlapping hit skipped", "abcdefghij", {{0, 5}, {3, 8}}, LP, U'*', "*****fghij"},
      {"adjacent hits both masked", "abcdef", {{0, 3}, {3, 6}}, LP, U'*', "******"},
      {"empty hit, length preserving", "abcd", {{2, 2}}, LP, U'*', "abcd"},
      {"empty hit, first last", "abcd", {{2, 2}}, FL, U'*', "abcd"},
      {"empty hit, grawlix", "abcd", {{2, 2}}, GR, U'*', "abcd"},
      {"empty hit, full mask", "abcd", {{2, 2}}, FM, U'*', "ab****cd"},
      {"hit at end of text", "abcd", {{2, 4}}, LP, U'*', "ab**"},
  });
}

TEST(Censor, SanitisesBrokenHits) {
  const std::string e = "\xC3\xA9";  // é
  run({
      {"end past the text clamped", "abcd", {{2, 99}}, LP, U'*', "ab**"},
      {"start past the text skipped", "abcd", {{5, 9}}, FM, U'*', "abcd"},
      {"inverted hit skipped", "abcd", {{3, 1}}, LP, U'*', "abcd"},
      {"end inside a character widened", "a" + e + "b", {{0, 2}}, LP, U'*', "**b"},
      {"start inside a character widened", "a" + e + "b", {{2, 4}}, LP, U'*', "a**"},
      {"empty hit inside a character masks it", "a" + e + "b", {{2, 2}}, LP, U'*', "a*b"},
      {"empty hit inside a character, full mask", "a" + e + "b", {{2, 2}}, FM, U'*', "a****b"},
      {"hit starting inside the previous widened hit skipped", e + e, {{0, 1}, {1, 4}}, LP, U'*', "*" + e},
      {"hit after a widened hit", e + e + "x", {{0, 1}, {2, 5}}, LP, U'*', "***"},
      {"start inside a 4-byte character", "\xF0\x9F\x98\x80x", {{3, 5}}, GR, U'*', "#@"},
  });
}

// Independent check that a string is well-formed UTF-8, and its character count.
bool well_formed(const std::string& s, std::size_t* chars) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++n) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t cp;
    if (b < 0x80) { len = 1; cp = b; }
    else if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; }
    else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; }
    else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; }
    else return false;
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  *chars = n;
  return true;
}

TEST(Censor, ArbitraryHitListsKeepUtf8AndCharacterCount) {
  static const char* const kPieces[] = {"a", "Z", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  static const char32_t kMasks[] = {U'*', U'\u00e9', U'\u2588', U'\U0001F600', char32_t{0x110000}};
  std::mt19937 rng(99);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int i = static_cast<int>(rng() % 12); i > 0; --i) text += kPieces[rng() % std::size(kPieces)];
    std::vector<Match> hits;
    for (int i = static_cast<int>(rng() % 6); i > 0; --i) {
      std::size_t s = rng() % (text.size() + 3), e = rng() % (text.size() + 3);
      if (rng() % 4 != 0 && e < s) std::swap(s, e);
      hits.push_back(hit(s, e));
    }
    if (rng() % 2) std::sort(hits.begin(), hits.end(), [](const Match& a, const Match& b) { return a.start < b.start; });
    std::size_t text_chars = 0;
    ASSERT_TRUE(well_formed(text, &text_chars));
    for (CensorStyle style : {LP, FL, FM, GR}) {
      const std::string out = censor::apply(text, hits, style, kMasks[rng() % std::size(kMasks)]);
      std::size_t out_chars = 0;
      ASSERT_TRUE(well_formed(out, &out_chars)) << "round " << round;
      if (style != FM) {
        EXPECT_EQ(out_chars, text_chars) << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace tarnwhisk
