// A deliberately simple matcher that the automaton is compared against: at each start
// position try every pattern, keep the longest (then the lowest id), and apply the same
// boundary and resume rules as Matcher::scan. Quadratic and obviously right.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tarnwhisk/matcher.hpp"

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
      const bool left_ok = start == 0 || !naive_is_word_byte(static_cast<unsigned char>(t[start - 1]));
      const bool right_ok = end == t.size() || !naive_is_word_byte(static_cast<unsigned char>(t[end]));
      if (!left_ok || !right_ok) continue;
    }
    const auto [s, en] = normalized.source_span(start, end);
    out.push_back({s, en, start, end, best, e.category, e.severity});
  }
  return out;
}

}  // namespace tarnwhisk::reference
