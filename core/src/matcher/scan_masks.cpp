// Tokens with masks ("f*ck", "sh#t"): at Thorough a word written with masks for some of
// its letters is matched apart from the automaton, token by token, and its hits are
// merged in order with the automaton's (ScanStream::masks).
#include <algorithm>
#include <cstring>
#include <string_view>
#include <tuple>

#include "ascii.hpp"
#include "matcher/scan_stream.hpp"
#include "matcher/scan_window.hpp"
#include "matcher/thorough_patterns.hpp"
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// Whether the token (letters, codes, masks and spaces, a mask standing for one or more
// letters) may be the word's letters (a phrase's spaces stand for themselves). A token
// letter flagged kDoubled stands for a run and may take one or two letters of the word.
bool mask_matches(std::string_view token, const std::uint8_t* flags, std::string_view word) {
  const auto& accepts = thorough_accepts();
  auto accepts_at = [&](std::size_t j, char t) {
    return accepts[static_cast<unsigned char>(word[j])][static_cast<unsigned char>(t)];
  };
  // reach[j]: the token so far can stand for the first j letters of the word.
  std::vector<bool> reach(word.size() + 1, false), next(word.size() + 1);
  reach[0] = true;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char t = token[i];
    std::fill(next.begin(), next.end(), false);
    if (t == '*') {
      bool any = false;  // a mask stands for one letter or more, never for a space
      for (std::size_t j = 0; j < word.size(); ++j) {
        any = word[j] != ' ' && (any || reach[j]);
        next[j + 1] = any;
      }
    } else {
      const bool doubled = flags != nullptr && (flags[i] & kDoubled) != 0;
      for (std::size_t j = 0; j < word.size(); ++j) {
        if (!reach[j] || !accepts_at(j, t)) continue;
        next[j + 1] = true;
        if (doubled && j + 1 < word.size() && accepts_at(j + 1, t)) next[j + 2] = true;
      }
    }
    reach.swap(next);
  }
  return reach[word.size()];
}

bool in_mask_token(unsigned char c) noexcept {
  return c == '*' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

// Tokens with masks, and the order in which every hit leaves while one may be open: the
// hits of this round, those held back before and the tokens' hits go out together in
// order of their start, up to an open token or a hit that waits for its neighbour. A
// token's hit that overlaps another hit loses to one that starts before it, and takes
// the place of one that starts with or after it (none of those reaches past the token).
void ScanStream::masks(const NormalizedText& win, std::size_t limit, bool final, std::size_t out_start,
                       std::vector<Match>& out) {
  const PatternChoices& choices = *matcher_.choices();
  const std::string_view text = win.text;
  std::vector<Match> found;
  mask_open_ = kNoMark;
  std::size_t from = std::max(mask_from_, base_) - base_;
  while (from < limit) {
    const void* star = std::memchr(text.data() + from, '*', limit - from);
    if (star == nullptr) {
      from = limit;
      break;
    }
    const auto p = static_cast<std::size_t>(static_cast<const char*>(star) - text.data());
    // The token with the mask, and the tokens around it that a phrase may take in, each
    // two one space apart.
    auto token_at = [&](std::size_t at) {
      std::size_t ts = at, te = at;
      while (ts > 0 && in_mask_token(static_cast<unsigned char>(text[ts - 1]))) --ts;
      while (te < limit && in_mask_token(static_cast<unsigned char>(text[te]))) ++te;
      return std::pair{ts, te};
    };
    const auto [ts, te] = token_at(p);
    std::vector<std::pair<std::size_t, std::size_t>> left, right;
    for (std::size_t at = ts; left.size() + 1 < choices.max_mask_words && at >= 2 && text[at - 1] == ' ' &&
                              in_mask_token(static_cast<unsigned char>(text[at - 2]));) {
      left.push_back(token_at(at - 2));
      at = left.back().first;
    }
    // Tokens to the right; the span is open while what follows it is not final.
    bool open = te == limit;
    for (std::size_t at = te; !open && right.size() + 1 < choices.max_mask_words;) {
      if (text[at] != ' ') break;
      if (at + 1 >= limit) {
        open = true;
        break;
      }
      if (!in_mask_token(static_cast<unsigned char>(text[at + 1]))) break;
      right.push_back(token_at(at + 1));
      at = right.back().second;
      open = at == limit;
    }
    if (open && !final) {
      mask_open_ = base_ + (left.empty() ? ts : left.back().first);
      from = p;
      break;
    }
    from = te;
    // The first word, lowest id first, that a span of whole tokens with the mask in it
    // may stand for. A symbol's letter at either end of the span may be punctuation.
    auto punctuation = [&](std::size_t b, std::uint8_t bit) {
      return !win.flags.empty() && ascii::kWordBytes[static_cast<unsigned char>(text[b])] &&
             (win.flags[Window(win).index_of(b)] & bit) != 0;
    };
    auto edge_ok = [&](std::size_t b) {  // the byte just outside the span
      return !ascii::kWordBytes[static_cast<unsigned char>(text[b])];
    };
    bool matched = false;
    for (const auto& [entry, letters] : choices.mask_words) {
      const std::size_t words = static_cast<std::size_t>(std::count(letters.begin(), letters.end(), ' ')) + 1;
      for (std::size_t before = 0; before < words && !matched; ++before) {
        const std::size_t after = words - 1 - before;
        if (before > left.size() || after > right.size()) continue;
        std::size_t s0 = before == 0 ? ts : left[before - 1].first;
        std::size_t e0 = after == 0 ? te : right[after - 1].second;
        // The span as it stands, then without a symbol's letter at either end.
        for (int trim = 0; trim < 2 && !matched; ++trim) {
          if (trim == 1) {
            while (s0 < e0 && punctuation(s0, kSymbolLast)) ++s0;
            while (e0 > s0 && punctuation(e0 - 1, kSymbolFirst)) --e0;
          }
          if (e0 <= s0 || text[s0] == '*' || text[e0 - 1] == '*' || e0 - s0 > 2 * choices.max_mask_word) continue;
          const bool whole = (s0 > 0 ? edge_ok(s0 - 1) || punctuation(s0 - 1, kSymbolLast)
                                     : (base_ == 0 || before_ == Before::Start || before_ == Before::NonWord)) &&
                             (e0 >= text.size() || edge_ok(e0) || punctuation(e0, kSymbolFirst));
          // One character a byte here (letters, codes, masks, spaces), so flags line up.
          const std::uint8_t* flags = win.flags.empty() ? nullptr : win.flags.data() + Window(win).index_of(s0);
          if (!whole || !mask_matches(text.substr(s0, e0 - s0), flags, letters)) continue;
          const WordEntry& e = matcher_.entries()[entry];
          found.push_back({s0, e0, base_ + s0, base_ + e0, entry, e.category, e.severity});
          matched = true;
        }
      }
      if (matched) break;
    }
  }
  mask_from_ = base_ + from;
  if (found.empty() && held_.empty() && mask_open_ == kNoMark) {
    if (out.size() > out_start) released_end_ = std::max(released_end_, out.back().normalized_end);
    return;
  }
  SpanMapper mapper(win);
  for (Match& hit : found) std::tie(hit.start, hit.end) = mapper.map(hit.start, hit.end);

  // Everything that may leave now, in order.
  std::vector<Match> all = std::move(held_);
  held_.clear();
  all.insert(all.end(), out.begin() + static_cast<std::ptrdiff_t>(out_start), out.end());
  out.resize(out_start);
  auto by_start = [](const Match& a, const Match& b) { return a.normalized_start < b.normalized_start; };
  std::stable_sort(all.begin(), all.end(), by_start);
  for (const Match& m : found) {
    if (m.normalized_start < released_end_) continue;
    auto it = std::lower_bound(all.begin(), all.end(), m, by_start);
    if (it != all.begin() && std::prev(it)->normalized_end > m.normalized_start) continue;
    auto last = it;
    while (last != all.end() && last->normalized_start < m.normalized_end) ++last;
    it = all.erase(it, last);
    all.insert(it, m);
  }
  std::size_t release = mask_open_;
  if (head_ < queue_.size()) release = std::min(release, queue_[head_].hit.normalized_start);
  for (const Match& m : all) {
    if (m.normalized_start < release) {
      out.push_back(m);
      released_end_ = std::max(released_end_, m.normalized_end);
    } else {
      held_.push_back(m);
    }
  }
}

}  // namespace tarnwhisk
