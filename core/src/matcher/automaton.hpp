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

  std::vector<std::uint32_t> trans_;       // [state * stride + class], pre-multiplied ids
  std::array<std::uint8_t, 256> classes_{};  // byte -> class
  std::vector<std::uint32_t> match_pattern_;  // by state index, for DEAD and match states
  std::vector<std::uint32_t> match_len_;      // length of that pattern
  std::uint32_t start_ = 0;      // pre-multiplied id of START
  std::uint32_t max_match_ = 0;  // pre-multiplied id of the last match state (DEAD if none)
  unsigned stride_shift_ = 0;
  std::size_t class_count_ = 0;
  Prefilter prefilter_;
};

}  // namespace tarnwhisk
