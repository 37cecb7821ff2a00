// Automaton: the multi-lane scan must report exactly the occurrences of the one-lane
// search (one byte at a time), whether or not the text can be cut and however it
// arrives in pieces, and both must agree with brute force at either table width.
#include "matcher/automaton.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace tarnwhisk {
namespace {

using Occ = std::tuple<std::uint32_t, std::size_t, std::size_t>;

// The search carried across pieces of `piece` bytes (1: one byte at a time, which is
// always the plain one-lane search).
std::vector<Occ> by_pieces(const Automaton& a, const std::string& text, std::size_t piece) {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  std::vector<std::vector<Occ>> lanes(Automaton::kLanes);
  auto sink = [&](const Occurrence& o, int lane) { lanes[lane].emplace_back(o.pattern, o.start, o.end); };
  std::vector<Occ> out;
  auto collect = [&] {
    for (auto& lane : lanes) {
      out.insert(out.end(), lane.begin(), lane.end());
      lane.clear();
    }
  };
  Automaton::Chain chain = a.start_chain();
  for (std::size_t end = std::min(piece, text.size()); ; end = std::min(end + piece, text.size())) {
    a.advance(t, end, chain, sink);
    collect();
    if (end == text.size()) break;
  }
  a.finish(t, text.size(), chain, sink);
  collect();
  return out;
}
std::vector<Occ> by_find(const Automaton& a, const std::string& text) { return by_pieces(a, text, 1); }

std::vector<Occ> by_scan(const Automaton& a, const std::string& text) {
  std::vector<std::vector<Occ>> lanes(Automaton::kLanes);
  a.scan(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
         [&](const Occurrence& o, int lane) { lanes[lane].emplace_back(o.pattern, o.start, o.end); });
  std::vector<Occ> out;
  for (const auto& lane : lanes) out.insert(out.end(), lane.begin(), lane.end());
  return out;
}

TEST(Automaton, LanesReportWhatOneSearchFinds) {
  struct Setting {
    const char* name;
    std::string pattern_bytes;  // patterns are drawn from these
    std::string text_bytes;     // texts are drawn from these
    bool every_byte_used;       // a pattern holding all 256 byte values leaves nowhere to cut
  };
  const std::vector<Setting> settings = {
      {"cut at free bytes", "ab ", "ab .", false},
      {"free bytes rare", "abc", "abcabcabcabcabcabcabcabc.", false},
      {"no free bytes", "ab", "ab.", true},
  };
  std::mt19937_64 rng(5);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (const Setting& s : settings) {
    for (int round = 0; round < 60; ++round) {
      std::vector<std::string> patterns;
      for (std::size_t k = 1 + below(6); k > 0; --k) {
        std::string p;
        for (std::size_t len = 1 + below(4); len > 0; --len) p += s.pattern_bytes[below(s.pattern_bytes.size())];
        patterns.push_back(p);
      }
      if (s.every_byte_used) {
        std::string all;
        for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
        patterns.push_back(all);
      }
      std::string error;
      const auto a = Automaton::build(patterns, {1000, 1000, 100000}, false, error);
      ASSERT_TRUE(a) << error;
      std::string text;
      for (std::size_t len = below(2) ? below(300) : below(4000); len > 0; --len) text += s.text_bytes[below(s.text_bytes.size())];
      const std::vector<Occ> one = by_find(*a, text);
      ASSERT_EQ(by_scan(*a, text), one) << s.name << ", round " << round;
      ASSERT_EQ(by_pieces(*a, text, 1 + below(1500)), one) << s.name << ", round " << round;
    }
  }
}

// Patterns whose bytes stand for sets: leftmost-longest by brute force (at each start try
// every pattern, each text byte in its pattern byte's set; longest, then lowest id).
std::vector<Occ> naive_sets(const std::vector<std::string>& patterns, const std::array<Automaton::ByteSet, 256>& accepts,
                            const std::string& text) {
  std::vector<Occ> out;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t best = patterns.size();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      const std::string& p = patterns[i];
      if (p.empty() || start + p.size() > text.size()) continue;
      bool ok = true;
      for (std::size_t k = 0; k < p.size() && ok; ++k)
        ok = accepts[static_cast<unsigned char>(p[k])][static_cast<unsigned char>(text[start + k])];
      if (ok && (best == patterns.size() || p.size() > patterns[best].size())) best = i;
    }
    if (best == patterns.size()) {
      ++start;
      continue;
    }
    out.emplace_back(static_cast<std::uint32_t>(best), start, start + patterns[best].size());
    start += patterns[best].size();
  }
  return out;
}

// Literal patterns: the same with every byte standing for itself.
std::vector<Occ> naive(const std::vector<std::string>& patterns, const std::string& text) {
  std::array<Automaton::ByteSet, 256> itself;
  for (std::size_t b = 0; b < 256; ++b) itself[b].set(b);
  return naive_sets(patterns, itself, text);
}

// The table is held at 16 bits while every state id fits and at 32 bits beyond; both
// must find the same occurrences, alone and in lanes.
TEST(Automaton, BothTableWidthsFindWhatNaiveSearchFinds) {
  // Every byte but "." in a row, rotated: each rotation is 255 states of its own, so a
  // few of them at 256 columns outgrow the 16-bit ids, and "." stays free for cutting.
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    if (b != '.') bytes += static_cast<char>(b);
  struct Setting {
    const char* name;
    std::size_t rotations;
    bool narrow;
  };
  const std::vector<Setting> settings = {{"16-bit", 0, true}, {"16-bit, 256 columns", 1, true}, {"32-bit", 5, false}};
  std::mt19937_64 rng(11);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (const Setting& s : settings) {
    for (int round = 0; round < 20; ++round) {
      std::vector<std::string> patterns;
      std::vector<std::string> long_ones;
      for (std::size_t r = 0; r < s.rotations; ++r) {
        const std::size_t at = 1 + below(bytes.size() - 1);
        long_ones.push_back(bytes.substr(at) + bytes.substr(0, at));
        patterns.push_back(long_ones.back());
      }
      for (std::size_t k = 1 + below(6); k > 0; --k) {
        std::string p;
        for (std::size_t len = 1 + below(4); len > 0; --len) p += "ab "[below(3)];
        patterns.push_back(p);
      }
      std::shuffle(patterns.begin(), patterns.end(), rng);
      std::string error;
      const auto a = Automaton::build(patterns, {1000, 1000, 100000}, false, error);
      ASSERT_TRUE(a) << error;
      ASSERT_EQ(a->narrow_table(), s.narrow) << s.name;
      std::string text;
      for (std::size_t len = below(4000); len > 0; --len) {
        if (!long_ones.empty() && below(300) == 0) {
          // A whole long pattern, or a prefix of one that the search must give up on.
          const std::string& p = long_ones[below(long_ones.size())];
          text += below(2) == 0 ? p : p.substr(0, below(p.size()));
        }
        text += "ab ."[below(4)];
      }
      const std::vector<Occ> expected = naive(patterns, text);
      ASSERT_EQ(by_find(*a, text), expected) << s.name << ", round " << round;
      ASSERT_EQ(by_scan(*a, text), expected) << s.name << ", round " << round;
    }
  }
}

TEST(Automaton, SetPatternsAgreeWithBruteForce) {
  std::mt19937_64 rng(11);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::string alphabet = "abcdI .";
  for (int round = 0; round < 1500; ++round) {
    // Each byte accepts itself and, unless this round is literal, a few others.
    const bool literal = below(4) == 0;
    std::array<Automaton::ByteSet, 256> accepts{};
    for (std::size_t b = 0; b < 256; ++b) accepts[b][b] = true;
    if (!literal)
      for (char c : alphabet)
        for (std::size_t extra = below(3); extra > 0; --extra)
          accepts[static_cast<unsigned char>(c)][static_cast<unsigned char>(alphabet[below(alphabet.size())])] = true;
    std::vector<std::string> patterns;
    for (std::size_t k = 1 + below(6); k > 0; --k) {
      std::string p;
      for (std::size_t len = 1 + below(5); len > 0; --len) p += alphabet[below(alphabet.size())];
      patterns.push_back(p);
    }
    std::string error;
    const auto a = Automaton::build_sets(patterns, accepts, {1000, 1000, 1u << 20}, error);
    ASSERT_TRUE(a) << error;
    std::string text;
    for (std::size_t len = below(round % 10 == 0 ? 3000 : 60); len > 0; --len) text += alphabet[below(alphabet.size())];
    const std::vector<Occ> expected = naive_sets(patterns, accepts, text);
    ASSERT_EQ(by_scan(*a, text), expected) << "round " << round << " text " << text;
    ASSERT_EQ(by_pieces(*a, text, 1 + below(300)), expected) << "round " << round;
    if (literal) {
      const auto lit = Automaton::build(patterns, {1000, 1000, 1u << 20}, false, error);
      ASSERT_EQ(by_scan(*lit, text), expected) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tarnwhisk

namespace tarnwhisk {
namespace {

// Many texts searched side by side, one a lane, report for each text what its own search
// does: texts of every length, empty ones among them, more and fewer than the lanes.
TEST(Automaton, ManyTextsSideBySideEachAsAlone) {
  std::mt19937_64 rng(17);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> patterns;
    for (std::size_t k = 1 + below(6); k > 0; --k) {
      std::string p;
      for (std::size_t len = 1 + below(4); len > 0; --len) p += "ab "[below(3)];
      patterns.push_back(p);
    }
    std::string error;
    const auto a = Automaton::build(patterns, {1000, 1000, 100000}, false, error);
    ASSERT_TRUE(a) << error;
    std::vector<std::string> texts(below(40));
    for (std::string& t : texts)
      for (std::size_t len = below(4) == 0 ? 0 : below(below(2) ? 20 : 300); len > 0; --len) t += "ab ."[below(4)];
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    std::vector<std::vector<Occ>> many(texts.size());
    a->scan_many(views, [&](std::size_t t, const Occurrence& o) { many[t].emplace_back(o.pattern, o.start, o.end); });
    for (std::size_t t = 0; t < texts.size(); ++t) ASSERT_EQ(many[t], by_find(*a, texts[t])) << round << ", " << t;
  }
}

}  // namespace
}  // namespace tarnwhisk
