// A deliberately simple matcher that the automaton is compared against: at each start
// position try every pattern, keep the longest (then the lowest id), and apply the same
// boundary and resume rules as Matcher::scan. Quadratic and obviously right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <string>
#include <vector>

#include "tarnwhisk/matcher.hpp"
#include "utf8.hpp"

namespace tarnwhisk::reference {

inline bool naive_is_word_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Hits of `patterns` (pattern i belongs to entries[i]; empty patterns never match) in
// `normalized` under `mode`.
inline std::vector<Match> naive_scan(const std::vector<std::string>& patterns,
                                     const std::vector<WordEntry>& entries,
                                     const NormalizedText& normalized, MatchMode mode) {
  const std::string& t = normalized.text;
  // The characters of the normalised text, each with its first byte and its symbol sides.
  std::vector<std::size_t> char_at(t.size() + 1, SIZE_MAX);  // byte -> character index
  std::vector<std::size_t> first_byte;
  for (std::size_t i = 0, k = 0; i < t.size(); ++k) {
    char_at[i] = k;
    first_byte.push_back(i);
    i += utf8::char_len(t, i);
  }
  const std::size_t chars = first_byte.size();
  auto is_word_char = [&](std::size_t k) {
    return naive_is_word_byte(static_cast<unsigned char>(t[first_byte[k]])) &&
           utf8::char_len(t, first_byte[k]) == 1;
  };
  // Whether the character k beside a hit is punctuation: a run of symbol letters going
  // away from the hit (step +1 or -1) with no word character right behind it.
  // A character made of a symbol, as seen from the side `bit` names.
  auto symbol = [&](std::size_t k, std::uint8_t bit) {
    return !normalized.flags.empty() && is_word_char(k) && (normalized.flags[k] & bit) != 0;
  };
  auto punctuation = [&](std::size_t k, int step) {
    const std::uint8_t bit = step > 0 ? kSymbolFirst : kSymbolLast;
    std::size_t j = k;
    std::size_t run = 0;
    while (j < chars && symbol(j, bit)) {
      ++run;
      if (step < 0 && j == 0) return true;  // the run reaches the start of the text
      j += static_cast<std::size_t>(step);
    }
    if (run == 0) return false;
    return j >= chars || !is_word_char(j);
  };
  std::vector<Match> out;
  std::size_t pos = 0;
  while (pos < t.size()) {
    std::size_t best = patterns.size(), start = pos;
    for (; start < t.size() && best == patterns.size(); ++start) {
      for (std::size_t i = 0; i < patterns.size(); ++i) {
        const std::string& p = patterns[i];
        if (p.empty() || t.compare(start, p.size(), p) != 0) continue;
        if (best == patterns.size() || p.size() > patterns[best].size()) best = i;
      }
    }
    if (best == patterns.size()) break;
    --start;
    const std::size_t end = start + patterns[best].size();
    pos = end;
    const WordEntry& e = entries[best];
    if (mode == MatchMode::WordBoundary && !e.strict) {
      // Letters joined across dropped separators start a word whatever stands before.
      auto joined = [&](std::size_t k) { return !normalized.flags.empty() && (normalized.flags[k] & kJoined) != 0; };
      const bool left_ok = start == 0 || !naive_is_word_byte(static_cast<unsigned char>(t[start - 1])) ||
                           joined(char_at[start]) || punctuation(char_at[start] - 1, -1);
      const bool right_ok = end == t.size() || !naive_is_word_byte(static_cast<unsigned char>(t[end])) ||
                            joined(char_at[end]) || punctuation(char_at[end], +1);
      if (!left_ok || !right_ok) continue;
    }
    const auto [s, en] = normalized.source_span(start, end);
    out.push_back({s, en, start, end, best, e.category, e.severity});
  }
  return out;
}

}  // namespace tarnwhisk::reference
