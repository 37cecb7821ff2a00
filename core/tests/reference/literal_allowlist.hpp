// The allowlist as plainly as it can be written: for every hit, every term is searched
// for from the start of the lower-cased text, resuming one character after each
// occurrence's start. Quadratic; the indexed Allowlist::filter must agree with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk::reference {

inline std::string literal_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Byte length of the UTF-8 character at s[i]: the well-formed sequence starting there, or
// 1 for a byte that starts none. Written from the encoding's table, independently of the
// library's helper.
inline std::size_t literal_char_len(std::string_view s, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  auto cont = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return i + k < s.size() && at(k) >= lo && at(k) <= hi;
  };
  const unsigned b = at(0);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return cont(1) ? 2 : 1;
  if (b == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 1;
  if (b == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 1;
  if (b >= 0xE1 && b <= 0xEF) return cont(1) && cont(2) ? 3 : 1;
  if (b == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 1;
  if (b == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 1;
  if (b >= 0xF1 && b <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 1;
  return 1;
}

inline bool literal_covers(const std::vector<std::string>& lowered_terms, std::string_view lowered,
                           std::size_t start, std::size_t end) {
  for (const std::string& term : lowered_terms) {
    std::size_t f = 0;
    for (;;) {
      const std::size_t q = lowered.find(term, f);
      if (q == std::string_view::npos) break;
      if (q < end && start < q + term.size()) return true;
      if (q >= lowered.size()) break;
      f = q + literal_char_len(lowered, q);
    }
  }
  return false;
}

// `hits` without those that some occurrence of some term (ASCII case ignored) overlaps.
inline std::vector<Match> literal_filter(const std::vector<std::string>& terms, std::string_view text,
                                         std::vector<Match> hits) {
  if (terms.empty()) return hits;
  std::vector<std::string> lowered_terms;
  for (const std::string& t : terms) lowered_terms.push_back(literal_lower(t));
  const std::string lowered = literal_lower(text);
  std::vector<Match> kept;
  for (const Match& m : hits)
    if (!literal_covers(lowered_terms, lowered, m.start, m.end)) kept.push_back(m);
  return kept;
}

}  // namespace tarnwhisk::reference
