// A deliberately simple matcher that the automaton is compared against: at each start
// position try every pattern, keep the longest (then the lowest id), and apply the same
// boundary and resume rules as Matcher::scan. Quadratic and obviously right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <string>
#include <vector>

#include "normalize/stages.hpp"
#include "tarnwhisk/matcher.hpp"
#include "utf8.hpp"

namespace tarnwhisk::reference {

inline bool naive_is_word_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// For each character of `normalized`: whether leetspeak made it of "!", "$" or "@", as
// seen from its first and from its last source character (they differ only where
// collapse merged a run). Every source character of the range is decoded; the form of
// a compatibility character is its NFKC form.
struct SymbolSides {
  std::vector<bool> first, last;
};

inline SymbolSides naive_symbol_sides(const NormalizedText& normalized, std::string_view source) {
  auto symbol = [](char32_t c) { return c == '!' || c == '$' || c == '@'; };
  auto form = [](char32_t c) {
    const nfkc::Form f = nfkc::form(c);
    return f.len == 0 ? std::u32string(1, c) : std::u32string(f.chars, f.len);
  };
  SymbolSides out;
  std::size_t k = 0;
  for (std::size_t i = 0; i < normalized.text.size(); ++k) {
    const std::size_t len = utf8::char_len(normalized.text, i);
    const bool letter = len == 1 && naive_is_word_byte(static_cast<unsigned char>(normalized.text[i]));
    std::u32string chars;
    const SourceRange r = normalized.offsets.at(k);
    for (std::size_t p = r.start; p < r.end;) {
      const std::size_t n = utf8::char_len(source, p);
      chars.push_back(utf8::decode(source, p, n));
      p += n;
    }
    out.first.push_back(letter && symbol(form(chars.front()).front()));
    out.last.push_back(letter && symbol(form(chars.back()).back()));
    i += len;
  }
  return out;
}

// Hits of `patterns` (pattern i belongs to entries[i]; empty patterns never match) in
// `normalized`, made from `source`, under `mode`.
inline std::vector<Match> naive_scan(const std::vector<std::string>& patterns,
                                     const std::vector<WordEntry>& entries,
                                     const NormalizedText& normalized, MatchMode mode,
                                     std::string_view source) {
  const std::string& t = normalized.text;
  // The characters of the normalised text, each with its first byte and its symbol sides.
  std::vector<std::size_t> char_at(t.size() + 1, SIZE_MAX);  // byte -> character index
  std::vector<std::size_t> first_byte;
  for (std::size_t i = 0, k = 0; i < t.size(); ++k) {
    char_at[i] = k;
    first_byte.push_back(i);
    i += utf8::char_len(t, i);
  }
  const SymbolSides sides = naive_symbol_sides(normalized, source);
  const std::size_t chars = first_byte.size();
  auto is_word_char = [&](std::size_t k) {
    return naive_is_word_byte(static_cast<unsigned char>(t[first_byte[k]])) &&
           utf8::char_len(t, first_byte[k]) == 1;
  };
  // Whether the character k beside a hit is punctuation: a run of symbol letters going
  // away from the hit (step +1 or -1) with no word character right behind it.
  auto punctuation = [&](std::size_t k, int step) {
    const std::vector<bool>& side = step > 0 ? sides.first : sides.last;
    std::size_t j = k;
    std::size_t run = 0;
    while (j < chars && side[j]) {
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
      const bool left_ok = start == 0 || !naive_is_word_byte(static_cast<unsigned char>(t[start - 1])) ||
                           punctuation(char_at[start] - 1, -1);
      const bool right_ok = end == t.size() || !naive_is_word_byte(static_cast<unsigned char>(t[end])) ||
                            punctuation(char_at[end], +1);
      if (!left_ok || !right_ok) continue;
    }
    const auto [s, en] = normalized.source_span(start, end);
    out.push_back({s, en, start, end, best, e.category, e.severity});
  }
  return out;
}

}  // namespace tarnwhisk::reference
