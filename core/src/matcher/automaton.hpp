// The matcher's search engine: a dense deterministic automaton over byte classes that
// reports, from any position, the leftmost-longest pattern occurrence in one
// left-to-right pass. Word lists need exact-byte, unanchored, non-overlapping search with
// leftmost-longest priority, which a textbook Aho-Corasick automaton (reporting by end
// position) cannot give directly, so the failure links are built the leftmost way and
// then resolved into a full transition table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "matcher/prefilter.hpp"

namespace tarnwhisk {

// One pattern occurrence: pattern `pattern` over the text bytes [start, end).
struct Occurrence {
  std::uint32_t pattern;
  std::size_t start;
  std::size_t end;
};

class Automaton {
 public:
  struct Limits {
    std::size_t max_patterns;
    std::size_t max_pattern_len;
    std::size_t max_states;
  };

  // Compiles `patterns` (pattern i has id i; empty patterns are left out and never
  // match). With `prefilter`, searches skip ahead to positions where a pattern can start
  // whenever the pattern set makes that worthwhile. Returns null and sets `error` to a
  // message naming the limit and the value when the set exceeds `limits` or the 32-bit
  // range of pre-multiplied state ids.
  static std::unique_ptr<Automaton> build(const std::vector<std::string>& patterns,
                                          const Limits& limits, bool prefilter,
                                          std::string& error);

  // The leftmost-longest occurrence that starts at or after `pos` in text[0, n); among
  // identical patterns the lowest id. Returns false when there is none.
  bool find(const unsigned char* text, std::size_t n, std::size_t pos,
            Occurrence& out) const noexcept {
    if (pos >= n || max_match_ == kDead) return false;
    return prefilter_.active() ? search<true>(text, n, pos, out) : search<false>(text, n, pos, out);
  }

  // Calls sink(occurrence, lane) for every occurrence of the scan that starts at 0 and
  // resumes at the end of each occurrence found. A long text is cut at a byte that no
  // pattern contains (no occurrence can cross it, and the search restarts after it) and
  // its two parts are searched as two independent chains of loads in one loop, which
  // nearly doubles throughput. Every occurrence reported for lane 0 lies before every
  // occurrence reported for lane 1; each lane reports in text order.
  template <class Sink>
  void scan(const unsigned char* text, std::size_t n, Sink&& sink) const {
    if (max_match_ == kDead) return;
    const std::size_t cut = prefilter_.active() ? n : cut_point(text, n);
    if (cut == n) {
      Occurrence occ;
      for (std::size_t pos = 0; find(text, n, pos, occ); pos = occ.end) sink(occ, 0);
      return;
    }
    Lane lanes[2] = {{0, cut, start_, kDead, 0}, {cut + 1, n, start_, kDead, 0}};
    const std::uint32_t* const trans = trans_.data();
    const std::uint8_t* const cls = classes_.data();
    Lane& a = lanes[0];
    Lane& b = lanes[1];
    while (a.i < a.end && b.i < b.end) {
      const std::uint32_t* row_a = trans + cls[text[a.i]];
      const std::uint32_t* row_b = trans + cls[text[b.i]];
#if defined(__GNUC__)
      asm("" : "+r"(row_a), "+r"(row_b));
#endif
      a.s = row_a[a.s];
      b.s = row_b[b.s];
      ++a.i;
      ++b.i;
      if (a.s <= max_match_) [[unlikely]] settle(a, 0, sink);
      if (b.s <= max_match_) [[unlikely]] settle(b, 1, sink);
    }
    drain(a, text, 0, sink);
    drain(b, text, 1, sink);
  }

  // Heap bytes held: transition table, byte classes, per-match-state data, prefilter.
  std::size_t memory_bytes() const noexcept;

  std::size_t state_count() const noexcept { return trans_.size() >> stride_shift_; }
  std::size_t class_count() const noexcept { return class_count_; }
  bool prefilter_active() const noexcept { return prefilter_.active(); }

 private:
  static constexpr std::uint32_t kDead = 0;

  Automaton() = default;

  // The search loop. State ids are pre-multiplied by the stride, so a step is one load:
  // the row for the byte's class is chosen first, off the dependency chain on `s`.
  // States are numbered DEAD, match states, START, others: one compare against
  // `special` tells whether the state needs attention. With kSkip, START counts as
  // special too: no occurrence is in progress there, so the prefilter may skip ahead.
  template <bool kSkip>
  bool search(const unsigned char* text, std::size_t n, std::size_t i,
              Occurrence& out) const noexcept {
    const std::uint32_t* const trans = trans_.data();
    const std::uint8_t* const cls = classes_.data();
    const std::uint32_t special = kSkip ? start_ : max_match_;
    const std::uint32_t max_match = max_match_;
    std::uint32_t s = start_;
    std::uint32_t last = kDead;
    std::size_t last_end = 0;
    if constexpr (kSkip) i = prefilter_.next(text, n, i);
    while (i < n) {
      const std::uint32_t* row = trans + cls[text[i]];
#if defined(__GNUC__)
      // Keeps the row address opaque, so the compiler cannot fold it into `s + class`:
      // that addition would lengthen the chain of dependent loads by a cycle a byte.
      asm("" : "+r"(row));
#endif
      s = row[s];
      ++i;
      if (s <= special) [[unlikely]] {
        if (s == kDead) break;
        if (s <= max_match) {
          last = s;
          last_end = i;
        } else if constexpr (kSkip) {
          i = prefilter_.next(text, n, i);
        }
      }
    }
    if (last == kDead) return false;
    const std::size_t index = last >> stride_shift_;
    out.pattern = match_pattern_[index];
    out.end = last_end;
    out.start = last_end - match_len_[index];
    return true;
  }

  // Texts shorter than this are searched in one piece.
  static constexpr std::size_t kMinCut = 256;

  // One independent search of scan(): the bytes [i, end) are left to read.
  struct Lane {
    std::size_t i;
    std::size_t end;
    std::uint32_t s;
    std::uint32_t last;  // match state of the pending occurrence, DEAD if none
    std::size_t last_end;
  };

  // A position near the middle holding a byte that no pattern contains, or n.
  std::size_t cut_point(const unsigned char* text, std::size_t n) const noexcept {
    if (n < kMinCut || !has_free_class_) return n;
    for (std::size_t q = n / 2; q < n; ++q)
      if (classes_[text[q]] == 0) return q;
    return n;
  }

  Occurrence occurrence(std::uint32_t state, std::size_t end) const noexcept {
    const std::size_t index = state >> stride_shift_;
    return {match_pattern_[index], end - match_len_[index], end};
  }

  // Handles a special state reached by a lane: a match is noted; at DEAD the pending
  // occurrence is reported and the lane starts again at its end.
  template <class Sink>
  void settle(Lane& lane, int id, Sink& sink) const {
    if (lane.s != kDead) {
      lane.last = lane.s;
      lane.last_end = lane.i;
      return;
    }
    if (lane.last != kDead) {
      sink(occurrence(lane.last, lane.last_end), id);
      lane.i = lane.last_end;
    }
    lane.s = start_;
    lane.last = kDead;
  }

  // Runs a lane alone to its end.
  template <class Sink>
  void drain(Lane& lane, const unsigned char* text, int id, Sink& sink) const {
    for (;;) {
      while (lane.i < lane.end) {
        lane.s = trans_[lane.s + classes_[text[lane.i]]];
        ++lane.i;
        if (lane.s <= max_match_) [[unlikely]] {
          settle(lane, id, sink);
        }
      }
      if (lane.last == kDead) return;
      // The text ended with an occurrence pending: report it and go on after it.
      sink(occurrence(lane.last, lane.last_end), id);
      lane.i = lane.last_end;
      lane.s = start_;
      lane.last = kDead;
    }
  }

  std::vector<std::uint32_t> trans_;       // [state * stride + class], pre-multiplied ids
  std::array<std::uint8_t, 256> classes_{};  // byte -> class
  std::vector<std::uint32_t> match_pattern_;  // by state index, for DEAD and match states
  std::vector<std::uint32_t> match_len_;      // length of that pattern
  std::uint32_t start_ = 0;      // pre-multiplied id of START
  std::uint32_t max_match_ = 0;  // pre-multiplied id of the last match state (DEAD if none)
  unsigned stride_shift_ = 0;
  std::size_t class_count_ = 0;
  bool has_free_class_ = false;  // class 0 holds bytes that no pattern contains
  Prefilter prefilter_;
};

}  // namespace tarnwhisk
