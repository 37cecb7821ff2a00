// The allowlist: drops hits that overlap harmless terms ("class" around "ass").
//
// The answer is the one of the plain search (for every term, every occurrence
// in the lower-cased text, compared with every hit), but filter() gets it in one pass over
// the text. An Aho-Corasick automaton over the lower-cased terms yields, at each end
// position e, the longest term ending there, i.e. the smallest start q of an occurrence
// ending at e. A hit [s, t) is covered iff some occurrence has q < t and e > s. An
// occurrence that ends no later and starts no earlier than another one is never needed,
// so the occurrences kept have e and q both increasing, and the first one with e > s
// answers for the hit: one binary search per hit. ASCII case of the text is folded by
// the byte-class table, so no lowered copy is made.
//
// The same scan runs over a source that arrives in pieces (AllowlistScan): its state
// carries over, a hit can be answered once the scan is a longest term's length (less
// one byte) past its end, and occurrences that end before every hit still to be asked
// about are forgotten. filter() is that scan over one whole text.
//
// Two facts make this equal to the plain search:
//  - the plain search resumes one character after each occurrence's start, and the bytes
//    it skips are continuation bytes of a multi-byte character, which can never begin an
//    occurrence of a term whose first byte is that character's lead byte; so every
//    occurrence of a non-empty term is examined;
//  - the empty term occurs at exactly the character boundaries of the text (as the UTF-8
//    walk sees them), so it covers a hit iff a boundary lies strictly inside it.
#include "tarnwhisk/allowlist.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "matcher/trie.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

// The automaton over the distinct non-empty terms, made from their trie (matcher/trie.hpp).
// States are numbered in breadth-first order with 0 the root. When the full transition
// table would be large, only the trie and the failure links are kept and transitions are
// followed through the links at scan time (still amortised linear).
class TermIndex {
 public:
  explicit TermIndex(const std::vector<std::string>& terms) {
    for (const std::string& term : terms) has_empty_ = has_empty_ || term.empty();
    build_classes(terms);
    Trie trie;
    for (const std::string& term : terms) {
      if (term.empty()) continue;
      trie.add(term, 0, [&](unsigned char b) { return std::uint32_t{cls_[b]}; });
      longest_term_ = std::max(longest_term_, term.size());
    }
    link(trie);
  }

  bool has_empty() const noexcept { return has_empty_; }
  bool has_terms() const noexcept { return depth_.size() > 1; }
  // Byte length of the longest term.
  std::size_t longest_term() const noexcept { return longest_term_; }

  // Scans `text`, which stands at byte `base` of the source, from `state` (0 at the
  // start of the source; otherwise what the scan of the bytes before returned), and
  // returns the state after it. Calls emit(e, q) for every end position e (increasing,
  // counted from the start of the source) at which some term ends, with q the smallest
  // start of a term occurrence ending at e.
  template <class Emit>
  std::uint32_t scan(std::string_view text, std::uint32_t state, std::size_t base, Emit&& emit) const {
    std::uint32_t s = state;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (!dense_.empty()) {
      // Rows are pre-multiplied and states where a term ends come last, so the loop
      // carries one load per byte and one comparison.
      const std::uint32_t* table = dense_.data();
      const std::uint32_t first_match = first_match_row_;
      for (std::size_t i = 0; i < n; ++i) {
        s = table[s + cls_[bytes[i]]];
        if (s >= first_match) emit(base + i + 1, base + i + 1 - longest_[s / classes_]);
      }
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        s = step(s, cls_[bytes[i]]);
        if (longest_[s] != 0) emit(base + i + 1, base + i + 1 - longest_[s]);
      }
    }
    return s;
  }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  // Above this many table entries the dense table is not built.
  static constexpr std::size_t kMaxDenseEntries = std::size_t{1} << 22;

  struct Edge {
    std::uint16_t cls;
    std::uint32_t to;
  };

  // Bytes that occur in some term get a class each; A-Z share the class of a-z (terms are
  // lower-cased, so they never contain A-Z themselves); every other byte is class 0,
  // which no trie edge carries.
  void build_classes(const std::vector<std::string>& terms) {
    std::array<bool, 256> used{};
    for (const std::string& term : terms)
      for (char c : term) used[static_cast<unsigned char>(c)] = true;
    classes_ = 1;
    cls_.fill(0);
    for (int b = 0; b < 256; ++b)
      if (used[b]) cls_[b] = static_cast<std::uint16_t>(classes_++);
    for (int b = 'A'; b <= 'Z'; ++b) cls_[b] = cls_[b - 'A' + 'a'];
  }

  std::uint32_t child(std::uint32_t s, std::uint16_t c) const noexcept {
    for (const Edge& e : edges_[s])
      if (e.cls == c) return e.to;
    return kNone;
  }

  std::uint32_t step(std::uint32_t s, std::uint16_t c) const noexcept {
    for (;;) {
      const std::uint32_t t = child(s, c);
      if (t != kNone) return t;
      if (s == 0) return 0;
      s = fail_[s];
    }
  }

  // Failure links and, for each state, the length of the longest term that is a suffix of
  // the state's string (0 for none); then the dense table if it is small enough. States
  // are renumbered in breadth-first order so that a state's failure target is always
  // numbered lower, which lets the dense rows be filled in one forward sweep.
  void link(const Trie& trie) {
    const std::size_t count = trie.size();
    const std::vector<std::uint32_t> order = trie.breadth_first();
    std::vector<std::uint32_t> rank(count);
    for (std::size_t i = 0; i < count; ++i) rank[order[i]] = static_cast<std::uint32_t>(i);

    edges_.assign(count, {});
    depth_.assign(count, 0);
    std::vector<bool> terminal(count);
    for (std::size_t i = 0; i < count; ++i) {
      const Trie::Node& node = trie[order[i]];
      trie.for_each_child(order[i], [&](std::uint32_t label, std::uint32_t to) {
        edges_[i].push_back({static_cast<std::uint16_t>(label), rank[to]});
      });
      depth_[i] = node.depth;
      terminal[i] = node.word != Trie::kNone;
    }

    fail_.assign(count, 0);
    longest_.assign(count, 0);
    for (std::uint32_t s = 0; s < count; ++s) {
      // Parents come before children in breadth-first order, so fail_[s] and
      // longest_[fail_[s]] are final here.
      longest_[s] = terminal[s] ? depth_[s] : longest_[fail_[s]];
      for (const Edge& e : edges_[s]) fail_[e.to] = s == 0 ? 0 : step(fail_[s], e.cls);
    }

    if (count * classes_ <= kMaxDenseEntries) build_dense(count);
  }

  // The full transition table, in a numbering where the states at which no term ends
  // come first (the root stays 0) and every target is stored as its row offset.
  void build_dense(std::size_t count) {
    std::vector<std::uint32_t> table(count * classes_, 0);
    for (std::uint32_t s = 0; s < count; ++s) {
      std::uint32_t* row = &table[static_cast<std::size_t>(s) * classes_];
      if (s != 0) {
        const std::uint32_t* fail_row = &table[static_cast<std::size_t>(fail_[s]) * classes_];
        std::copy(fail_row, fail_row + classes_, row);
      }
      for (const Edge& e : edges_[s]) row[e.cls] = e.to;
    }
    std::vector<std::uint32_t> renumber(count);
    std::uint32_t next = 0;
    for (int pass = 0; pass < 2; ++pass)
      for (std::uint32_t s = 0; s < count; ++s)
        if ((longest_[s] != 0) == (pass == 1)) {
          if (pass == 1 && first_match_row_ == kNone) first_match_row_ = next * static_cast<std::uint32_t>(classes_);
          renumber[s] = next++;
        }
    dense_.assign(count * classes_, 0);
    std::vector<std::uint32_t> longest(count);
    for (std::uint32_t s = 0; s < count; ++s) {
      const std::size_t to = static_cast<std::size_t>(renumber[s]) * classes_;
      for (std::size_t c = 0; c < classes_; ++c)
        dense_[to + c] = renumber[table[static_cast<std::size_t>(s) * classes_ + c]] *
                         static_cast<std::uint32_t>(classes_);
      longest[renumber[s]] = longest_[s];
    }
    longest_ = std::move(longest);
    edges_.clear();
    edges_.shrink_to_fit();
  }

  bool has_empty_ = false;
  std::size_t longest_term_ = 0;
  std::uint32_t first_match_row_ = kNone;
  std::array<std::uint16_t, 256> cls_{};
  std::size_t classes_ = 1;
  std::vector<std::vector<Edge>> edges_;
  std::vector<std::uint32_t> depth_;
  std::vector<std::uint32_t> fail_;
  std::vector<std::uint32_t> longest_;
  std::vector<std::uint32_t> dense_;
};

Allowlist::Allowlist(std::vector<std::string> terms) : terms_(std::move(terms)) {
  for (std::string& term : terms_)
    for (char& c : term) c = ascii_lower(c);
  if (!terms_.empty()) index_ = std::make_unique<TermIndex>(terms_);
}
Allowlist::Allowlist(Allowlist&&) noexcept = default;
Allowlist& Allowlist::operator=(Allowlist&&) noexcept = default;
Allowlist::~Allowlist() = default;

std::vector<Match> Allowlist::filter(std::string_view text, std::vector<Match> hits) const {
  if (terms_.empty() || hits.empty()) return hits;

  AllowlistScan scan(*this);
  scan.feed(text);
  scan.finish();
  const bool empty_term = index_->has_empty();
  auto covered = [&](const Match& hit) {
    if (scan.overlaps(hit.start, hit.end)) return true;
    if (empty_term && hit.start < text.size()) {
      // A character boundary strictly inside the hit; the next one after `start` lies
      // within four bytes. (Hits of any shape are answered as the plain search would.)
      const std::size_t last = std::min({hit.end, text.size() + 1, hit.start + 5});
      for (std::size_t p = hit.start + 1; p < last; ++p)
        if (utf8::is_char_boundary(text, p)) return true;
    }
    return false;
  };
  std::erase_if(hits, covered);
  return hits;
}

AllowlistScan::AllowlistScan(const Allowlist& allowlist) : index_(allowlist.index_.get()) {
  if (index_ != nullptr) {
    empty_term_ = index_->has_empty();
    reach_ = index_->has_terms() ? index_->longest_term() - 1 : 0;
  }
}

void AllowlistScan::feed(std::string_view bytes) {
  if (index_ != nullptr && index_->has_terms()) {
    state_ = index_->scan(bytes, state_, scanned_, [&](std::size_t e, std::size_t q) {
      // An occurrence that ends earlier and starts no earlier than this one overlaps no
      // hit that this one misses.
      while (occurrences_.size() > head_ && occurrences_.back().start >= q) occurrences_.pop_back();
      occurrences_.push_back({e, q});
    });
  }
  scanned_ += bytes.size();
}

bool AllowlistScan::overlaps(std::size_t start, std::size_t end) const noexcept {
  // Ends and starts both increase along the list, so the first occurrence that ends
  // after `start` is the one that starts earliest among them.
  const auto first = occurrences_.begin() + static_cast<std::ptrdiff_t>(head_);
  const auto it = std::upper_bound(first, occurrences_.end(), start,
                                   [](std::size_t s, const Occurrence& o) { return s < o.end; });
  return it != occurrences_.end() && it->start < end;
}

bool AllowlistScan::covers(std::size_t start, std::size_t end, std::string_view hit_text) const noexcept {
  if (overlaps(start, end)) return true;
  // The empty term occurs at every character boundary: a hit of whole characters has
  // one strictly inside when it is more than its first character.
  return empty_term_ && !hit_text.empty() && utf8::char_len(hit_text, 0) < hit_text.size();
}

void AllowlistScan::forget(std::size_t pos) noexcept {
  while (head_ < occurrences_.size() && occurrences_[head_].end <= pos) ++head_;
  if (head_ == occurrences_.size()) {
    occurrences_.clear();
    head_ = 0;
  } else if (head_ >= 1024 && head_ * 2 >= occurrences_.size()) {
    occurrences_.erase(occurrences_.begin(), occurrences_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

}  // namespace tarnwhisk
