// The allowlist must drop exactly the hits that the plain term-by-term search drops,
// without its cost: tables pin the behaviour down, randomised cases compare with the
// literal reference.
#include "tarnwhisk/allowlist.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "hits.hpp"
#include "reference/literal_allowlist.hpp"

namespace tarnwhisk {

void PrintTo(const Match& m, std::ostream* os) { *os << "[" << m.start << ", " << m.end << ")"; }

namespace {

using test_support::hit;

struct Case {
  const char* name;
  std::vector<std::string> terms;
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> hits;
  std::vector<std::pair<std::size_t, std::size_t>> kept;
};

void run(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<Match> hits;
    for (auto [s, e] : c.hits) hits.push_back(hit(s, e));
    std::vector<Match> expected;
    for (auto [s, e] : c.kept) expected.push_back(hit(s, e));
    EXPECT_EQ(Allowlist(c.terms).filter(c.text, hits), expected) << c.name;
    EXPECT_EQ(reference::literal_filter(c.terms, c.text, hits), expected) << c.name << " (reference)";
  }
}

TEST(Allowlist, OverlapCoversTouchingDoesNot) {
  run({
      {"inner word", {"Class"}, "This Classic", {{7, 10}}, {}},
      {"touching before", {"ab"}, "abcd", {{2, 4}}, {{2, 4}}},
      {"touching after", {"cd"}, "abcd", {{0, 2}}, {{0, 2}}},
      {"one shared byte", {"lo"}, "hello", {{0, 4}}, {}},
      {"overlapping occurrences", {"aa"}, "aaa", {{2, 3}}, {}},
      {"occurrence far away", {"\xC3\xA9" "clair"}, "\xC3\xA9" "clair is ass", {{10, 13}}, {{10, 13}}},
      {"order kept", {"bad"}, "xxxx  bad   yyy", {{0, 4}, {6, 9}, {12, 15}}, {{0, 4}, {12, 15}}},
      {"no occurrence", {"zz"}, "hello", {{0, 5}}, {{0, 5}}},
      {"no terms", {}, "hello", {{0, 5}, {1, 2}}, {{0, 5}, {1, 2}}},
      {"empty hit inside occurrence", {"abc"}, "abc", {{1, 1}}, {}},
      {"empty hit at occurrence start", {"abc"}, "abc", {{0, 0}}, {{0, 0}}},
  });
}

TEST(Allowlist, CaseFoldsAsciiOnly) {
  run({
      {"upper text", {"classic"}, "CLASSIC", {{2, 5}}, {}},
      {"upper term", {"CLASSIC"}, "classic", {{2, 5}}, {}},
      {"accented capital in text", {"\xC3\xBC" "ber"}, "\xC3\x9C" "BER", {{0, 5}}, {{0, 5}}},
      {"accented capital in both", {"\xC3\x9C" "ber"}, "\xC3\x9C" "BER", {{0, 5}}, {}},
  });
}

TEST(Allowlist, EmptyTermCoversHitsWithInnerBoundary) {
  run({
      {"one char kept, two dropped", {"", "x"}, "ab", {{0, 1}, {0, 2}}, {{0, 1}}},
      {"other term still applies", {"", "a"}, "ab", {{0, 1}, {1, 2}}, {{1, 2}}},
      {"one multi-byte char", {""}, "\xC3\xA9" "a", {{0, 2}}, {{0, 2}}},
      {"two multi-byte chars", {""}, "\xC3\xA9\xC3\xA9", {{0, 4}}, {}},
      {"span cutting a char", {""}, "\xC3\xA9" "a", {{1, 3}}, {}},
      {"empty text", {""}, "", {{0, 0}}, {{0, 0}}},
  });
}

TEST(Allowlist, StoresTermsLowered) {
  const Allowlist list({"Class", "", "\xC3\x89T\xC3\x89", "Class"});
  EXPECT_EQ(list.terms(), (std::vector<std::string>{"class", "", "\xC3\x89t\xC3\x89", "class"}));
}

// Texts and terms made of a few pieces: ASCII in both cases, accented letters in both
// cases, an emoji and, now and then, bytes that are not well-formed UTF-8.
std::string pieces(std::mt19937& rng, int count, bool allow_broken) {
  static const char* const kPieces[] = {"a", "b", "A", "B", "ab", "\xC3\xA9", "\xC3\x89",
                                        "\xF0\x9F\x98\x80", " "};
  static const char* const kBroken[] = {"\xC3", "\xA9", "\xE0\x80", "\xF0\x9F", "\xFF"};
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (allow_broken && rng() % 12 == 0) {
      out += kBroken[rng() % std::size(kBroken)];
    } else {
      out += kPieces[rng() % std::size(kPieces)];
    }
  }
  return out;
}

std::vector<Match> random_hits(std::mt19937& rng, const std::string& text) {
  std::vector<std::size_t> boundaries;
  for (std::size_t i = 0; i <= text.size(); ++i)
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) boundaries.push_back(i);
  std::vector<Match> hits;
  const int count = static_cast<int>(rng() % 6);
  for (int i = 0; i < count; ++i) {
    std::size_t s, e;
    if (rng() % 2) {  // on character starts only
      s = boundaries[rng() % boundaries.size()];
      e = boundaries[rng() % boundaries.size()];
      if (e < s) std::swap(s, e);
    } else {  // any bytes, also inverted or past the end
      s = rng() % (text.size() + 3);
      e = rng() % (text.size() + 3);
      if (rng() % 4 != 0 && e < s) std::swap(s, e);
    }
    hits.push_back(hit(s, e));
  }
  return hits;
}

TEST(Allowlist, AgreesWithLiteralSearchOnRandomCases) {
  std::mt19937 rng(20240601);
  for (int round = 0; round < 20000; ++round) {
    const bool broken = round % 3 == 0;
    std::vector<std::string> terms;
    const int term_count = static_cast<int>(rng() % 4);
    for (int t = 0; t < term_count; ++t) {
      if (!terms.empty() && rng() % 5 == 0) {
        terms.push_back(terms[rng() % terms.size()]);  // a duplicate
      } else {
        terms.push_back(pieces(rng, static_cast<int>(rng() % 4), broken));  // may be empty
      }
    }
    const std::string text = pieces(rng, static_cast<int>(rng() % 16), broken);
    const std::vector<Match> hits = random_hits(rng, text);
    const Allowlist list(terms);
    ASSERT_EQ(list.filter(text, hits), reference::literal_filter(terms, text, hits))
        << "round " << round;
  }
}

// Enough distinct bytes and states that the index keeps no full transition table and
// follows failure links instead; the answers must not change.
TEST(Allowlist, LargeTermSetAgreesWithLiteralSearch) {
  std::mt19937 rng(7);
  auto byte = [&] {
    for (;;) {
      const char c = static_cast<char>(0x21 + rng() % (0x100 - 0x21));
      if (c < 'A' || c > 'Z') return c;
    }
  };
  std::vector<std::string> terms;
  for (int t = 0; t < 4000; ++t) {
    std::string term;
    for (int i = 0; i < 8; ++i) term += byte();
    terms.push_back(term);
  }
  std::string text;
  for (int i = 0; i < 60; ++i) {
    const std::string& t = terms[rng() % terms.size()];
    text += rng() % 2 ? t.substr(rng() % 8) : t.substr(0, 1 + rng() % 8);
    text += byte();
  }
  const Allowlist list(terms);
  for (int round = 0; round < 10; ++round) {
    std::vector<Match> hits;
    for (int i = 0; i < 20; ++i) {
      const std::size_t s = rng() % text.size();
      hits.push_back(hit(s, s + 1 + rng() % 4));
    }
    ASSERT_EQ(list.filter(text, hits), reference::literal_filter(terms, text, hits));
  }
}

}  // namespace
}  // namespace tarnwhisk
