// Automaton: the multi-lane scan must report exactly the occurrences of the one-lane
// search (find from 0, resuming at each end), whether or not the text can be cut.
#include "matcher/automaton.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace tarnwhisk {
namespace {

using Occ = std::tuple<std::uint32_t, std::size_t, std::size_t>;

std::vector<Occ> by_find(const Automaton& a, const std::string& text) {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  std::vector<Occ> out;
  Occurrence o;
  for (std::size_t pos = 0; a.find(t, text.size(), pos, o); pos = o.end) out.emplace_back(o.pattern, o.start, o.end);
  return out;
}

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
      for (std::size_t len = below(4000); len > 0; --len) text += s.text_bytes[below(s.text_bytes.size())];
      ASSERT_EQ(by_scan(*a, text), by_find(*a, text)) << s.name << ", round " << round;
    }
  }
}

}  // namespace
}  // namespace tarnwhisk
