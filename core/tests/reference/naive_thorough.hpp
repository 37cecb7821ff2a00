// The thorough level's matching, done the slow and obvious way, to hold the automaton,
// the scan and the mask tokens to their rules: at each place try every pattern of the
// thorough forms, byte by byte against the sets its bytes accept; take the longest (then
// the lowest id); it counts for the first entry whose doubled, stretched and single
// letters the text has, or else a shorter occurrence at the same place does, or else the
// search goes on one byte later; the whole-word test as in naive_matcher.hpp, with joined
// letters as word starts and no whole word inside an e-mail address. Then the tokens with
// masks, each against the words in entry order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "matcher/thorough_patterns.hpp"
#include "reference/naive_matcher.hpp"
#include "tarnwhisk/matcher.hpp"
#include "utf8.hpp"

namespace tarnwhisk::reference {

inline std::vector<Match> naive_thorough_scan(const std::vector<WordEntry>& entries, const NormalizedText& nt,
                                              MatchMode mode) {
  const ThoroughPatterns tp = thorough_patterns(entries);
  const auto& accepts = thorough_accepts();
  const std::string& t = nt.text;
  const std::size_t n = t.size();
  std::vector<std::size_t> char_at(n + 1, 0), first_byte;
  for (std::size_t i = 0, k = 0; i < n; ++k) {
    first_byte.push_back(i);
    const std::size_t len = utf8::char_len(t, i);
    for (std::size_t j = 0; j < len; ++j) char_at[i + j] = k;
    i += len;
  }
  char_at[n] = first_byte.size();
  auto flags_of_char = [&](std::size_t k) -> std::uint8_t { return nt.flags.empty() || k >= nt.flags.size() ? 0 : nt.flags[k]; };
  auto word = [&](std::size_t b) { return naive_is_word_byte(static_cast<unsigned char>(t[b])); };
  auto symbol = [&](std::size_t b, std::uint8_t bit) { return word(b) && (flags_of_char(char_at[b]) & bit) != 0; };
  auto joined = [&](std::size_t b) { return (flags_of_char(char_at[b]) & kJoined) != 0; };

  auto fits = [&](const std::string& p, std::size_t s) {
    if (p.empty() || s + p.size() > n) return false;
    for (std::size_t k = 0; k < p.size(); ++k)
      if (!accepts[static_cast<unsigned char>(p[k])][static_cast<unsigned char>(t[s + k])]) return false;
    return true;
  };
  auto choose = [&](std::size_t pattern, std::size_t s) -> std::size_t {
    const std::size_t first = char_at[s];
    for (const PatternChoice& c : tp.choices.by_pattern[pattern]) {
      bool ok = true;
      for (std::uint32_t k : c.doubled) ok = ok && (flags_of_char(first + k) & kDoubled) != 0;
      for (std::uint32_t k : c.stretched) ok = ok && (flags_of_char(first + k) & kStretched) != 0;
      for (std::uint32_t k : c.single) {
        const std::uint8_t f = flags_of_char(first + k);
        // A letter doubled in the text is no single letter unless stretched; a run of
        // symbols ("sh!!t") is emphasis, not a letter the writer doubled, and so is a
        // symbol next to the letter it stands for ("\u00a1injun", "$shit").
        ok = ok && ((f & kDoubled) == 0 || (f & (kStretched | kSymbolFirst | kSymbolLast)) != 0);
      }
      if (ok) return c.entry;
    }
    return SIZE_MAX;
  };
  // The whole-word test of [s, e): a word byte beside it joins it to a word, unless it is
  // a symbol's letter at the edge (with no word byte behind its run) or the hit starts at
  // joined letters / the next letter is joined.
  auto whole = [&](std::size_t s, std::size_t e) {
    bool left = s == 0 || !word(s - 1) || joined(s);
    if (!left) {
      std::size_t b = s;
      while (b > 0 && symbol(b - 1, kSymbolLast)) --b;
      left = b != s && (b == 0 || !word(b - 1));
    }
    bool right = e == n || !word(e) || joined(e);
    if (!right) {
      std::size_t b = e;
      while (b < n && symbol(b, kSymbolFirst)) ++b;
      right = b != e && (b == n || !word(b));
    }
    // An e-mail address is no text: a word of its local part ("dick.smith@example.org")
    // or of its domain ("me@mail.dick.com") stands in no sentence.
    auto at_sign = [&](std::size_t b, std::uint8_t bit) { return t[b] == 'A' && symbol(b, bit); };
    auto separator = [&](std::size_t b) { return t[b] == '.' || t[b] == '-'; };
    if (right && e < n && !joined(e) && separator(e)) {
      bool after = true;
      for (std::size_t j = e + 1; j < n; ++j) {
        const bool at = at_sign(j, kSymbolFirst);
        bool on = false;
        if (after) {
          on = word(j) && !at;
          after = false;
        } else if (at) {
          right = !(j + 1 < n && word(j + 1));
          break;
        } else {
          on = word(j) || separator(j);
          after = !word(j);
        }
        if (!on || j >= e + 64) break;
      }
    }
    if (left && s > 0 && !joined(s) && separator(s - 1)) {
      bool after = true;
      for (std::size_t j = s - 1; j > 0 && s - 1 - (j - 1) <= 255; --j) {
        const std::size_t c = j - 1;
        if (at_sign(c, kSymbolFirst | kSymbolLast)) {
          left = !(!after && c > 0 && word(c - 1));
          break;
        }
        if (word(c)) {
          after = false;
        } else if (separator(c) && !after) {
          after = true;
        } else {
          break;
        }
      }
    }
    return left && right;
  };

  std::vector<Match> hits;
  for (std::size_t pos = 0; pos < n;) {
    std::size_t s = pos, best = SIZE_MAX;
    for (; s < n && best == SIZE_MAX; ++s)
      for (std::size_t i = 0; i < tp.patterns.size(); ++i)
        if (fits(tp.patterns[i], s) && (best == SIZE_MAX || tp.patterns[i].size() > tp.patterns[best].size())) best = i;
    if (best == SIZE_MAX) break;
    --s;
    const std::size_t e = s + tp.patterns[best].size();
    std::size_t id = choose(best, s), end = e;
    // Shorter occurrences at the same place, longest first, the lowest id of each length.
    for (std::size_t len = tp.patterns[best].size() - 1; id == SIZE_MAX && len > 0; --len) {
      for (std::size_t i = 0; i < tp.patterns.size(); ++i) {
        if (tp.patterns[i].size() != len || !fits(tp.patterns[i], s)) continue;
        id = choose(i, s);
        end = s + len;
        break;
      }
    }
    if (id == SIZE_MAX) {  // absent: as if it had not been there
      pos = s + 1;
      continue;
    }
    pos = e;
    const WordEntry& entry = entries[id];
    if (mode == MatchMode::WordBoundary && !entry.strict && !whole(s, end)) continue;
    const auto [src_start, src_end] = nt.source_span(s, end);
    hits.push_back({src_start, src_end, s, end, id, entry.category, entry.severity});
  }

  // Tokens with masks.
  const PatternChoices& ch = tp.choices;
  if (ch.mask_words.empty()) return hits;
  auto in_token = [&](std::size_t b) {
    const auto c = static_cast<unsigned char>(t[b]);
    return c == '*' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  auto token_at = [&](std::size_t at) {
    std::size_t ts = at, te = at;
    while (ts > 0 && in_token(ts - 1)) --ts;
    while (te < n && in_token(te)) ++te;
    return std::pair{ts, te};
  };
  for (std::size_t from = 0; from < n;) {
    const std::size_t p = t.find('*', from);
    if (p == std::string::npos) break;
    const auto [ts, te] = token_at(p);
    from = te;
    std::vector<std::pair<std::size_t, std::size_t>> left, right;
    for (std::size_t at = ts; left.size() + 1 < ch.max_mask_words && at >= 2 && t[at - 1] == ' ' && in_token(at - 2);) {
      left.push_back(token_at(at - 2));
      at = left.back().first;
    }
    for (std::size_t at = te; right.size() + 1 < ch.max_mask_words && at + 1 < n && t[at] == ' ' && in_token(at + 1);) {
      right.push_back(token_at(at + 1));
      at = right.back().second;
    }
    bool matched = false;
    for (const auto& [entry, letters] : ch.mask_words) {
      const std::size_t words = static_cast<std::size_t>(std::count(letters.begin(), letters.end(), ' ')) + 1;
      for (std::size_t before = 0; before < words && !matched; ++before) {
        const std::size_t after = words - 1 - before;
        if (before > left.size() || after > right.size()) continue;
        std::size_t s0 = before == 0 ? ts : left[before - 1].first;
        std::size_t e0 = after == 0 ? te : right[after - 1].second;
        for (int trim = 0; trim < 2 && !matched; ++trim) {
          if (trim == 1) {
            while (s0 < e0 && symbol(s0, kSymbolLast)) ++s0;
            while (e0 > s0 && symbol(e0 - 1, kSymbolFirst)) --e0;
          }
          if (e0 <= s0 || t[s0] == '*' || t[e0 - 1] == '*' || e0 - s0 > 2 * ch.max_mask_word) continue;
          const bool ok = (s0 == 0 || !word(s0 - 1) || symbol(s0 - 1, kSymbolLast)) &&
                          (e0 == n || !word(e0) || symbol(e0, kSymbolFirst));
          if (!ok) continue;
          // Letters and masks against the word: a mask one letter or more (never a space):
          // at most two for one character, four for a pair, any number for a longer run;
          // a doubled letter of the text one or two letters of the word.
          const std::string_view token(t.data() + s0, e0 - s0);
          std::vector<bool> reach(letters.size() + 1, false);
          reach[0] = true;
          for (std::size_t i = 0; i < token.size(); ++i) {
            std::vector<bool> next(letters.size() + 1, false);
            for (std::size_t j = 0; j < letters.size(); ++j) {
              if (!reach[j]) continue;
              if (token[i] == '*') {
                const std::uint8_t f = flags_of_char(char_at[s0 + i]);
                const std::size_t most = (f & kStretched) ? SIZE_MAX : (f & kDoubled) ? 4 : 2;
                for (std::size_t k = j; k < letters.size() && letters[k] != ' ' && k - j < most; ++k) next[k + 1] = true;
              } else if (accepts[static_cast<unsigned char>(letters[j])][static_cast<unsigned char>(token[i])]) {
                next[j + 1] = true;
                if ((flags_of_char(char_at[s0 + i]) & kDoubled) && j + 1 < letters.size() &&
                    accepts[static_cast<unsigned char>(letters[j + 1])][static_cast<unsigned char>(token[i])])
                  next[j + 2] = true;
              }
            }
            reach = next;
          }
          if (!reach[letters.size()]) continue;
          // It takes the place of what starts with or after it and overlaps it, unless a
          // hit that starts before it overlaps it.
          const WordEntry& e = entries[entry];
          const auto [src_start, src_end] = nt.source_span(s0, e0);
          const Match m{src_start, src_end, s0, e0, entry, e.category, e.severity};
          matched = true;
          auto it = std::lower_bound(hits.begin(), hits.end(), m, [](const Match& a, const Match& b) {
            return a.normalized_start < b.normalized_start;
          });
          if (it != hits.begin() && std::prev(it)->normalized_end > m.normalized_start) break;
          auto last = it;
          while (last != hits.end() && last->normalized_start < m.normalized_end) ++last;
          it = hits.erase(it, last);
          hits.insert(it, m);
        }
      }
      if (matched) break;
    }
  }
  return hits;
}

}  // namespace tarnwhisk::reference
