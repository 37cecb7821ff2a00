// The matcher's search engine: a dense deterministic automaton over byte classes that
// reports, from any position, the leftmost-longest pattern occurrence in one
// left-to-right pass. Word lists need exact-byte, unanchored, non-overlapping search with
// leftmost-longest priority, which a textbook Aho-Corasick automaton (reporting by end
// position) cannot give directly, so the failure links are built the leftmost way and
// then resolved into a full transition table.
#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "matcher/prefilter.hpp"

// Keeps a function out of its callers, so that a hot loop around a call to it keeps its
// own values in registers.
#if defined(__GNUC__)
#define TARNWHISK_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define TARNWHISK_NOINLINE __declspec(noinline)
#else
#define TARNWHISK_NOINLINE
#endif

namespace tarnwhisk {

// One pattern occurrence: pattern `pattern` over the text bytes [start, end).
struct Occurrence {
  std::uint32_t pattern;
  std::size_t start;
  std::size_t end;
};

// The occurrences that one lane of a search holds back: a lane of a short text finds one
// or two, so the first few stay in place and only more go to the heap (an allocation
// would cost a message with a hit more than its lanes save).
class OccurrenceList {
 public:
  void push_back(const Occurrence& occ) {
    if (heap_.empty() && size_ < kInline) {
      inline_[size_++] = occ;
      return;
    }
    if (heap_.empty()) heap_.assign(inline_.begin(), inline_.begin() + static_cast<std::ptrdiff_t>(size_));
    heap_.push_back(occ);
    ++size_;
  }
  const Occurrence* begin() const noexcept { return heap_.empty() ? inline_.data() : heap_.data(); }
  const Occurrence* end() const noexcept { return begin() + size_; }
  std::size_t size() const noexcept { return size_; }
  const Occurrence& operator[](std::size_t i) const noexcept { return begin()[i]; }
  void clear() noexcept {
    heap_.clear();
    size_ = 0;
  }

 private:
  static constexpr std::size_t kInline = 4;
  std::array<Occurrence, kInline> inline_;
  std::vector<Occurrence> heap_;
  std::size_t size_ = 0;
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

  // The same for patterns whose bytes stand for sets of bytes: byte b of a pattern
  // accepts any text byte in accepts[b] (a letter that may be written several ways).
  // The search of scan() reports, from each place, the leftmost-longest occurrence of
  // any pattern, among equal ones the lowest id. No prefilter. Fails as build() does.
  using ByteSet = std::bitset<256>;
  static std::unique_ptr<Automaton> build_sets(const std::vector<std::string>& patterns,
                                               const std::array<ByteSet, 256>& accepts,
                                               const Limits& limits, std::string& error);

  // Number of independent searches that scan() runs side by side on a long text.
  static constexpr int kLanes = 4;

  // Calls sink(occurrence, lane) for every occurrence of the scan that starts at 0 and
  // resumes at the end of each occurrence found. A long text is cut at bytes that no
  // pattern contains (no occurrence can cross one, and the search restarts after it)
  // and its parts are searched as independent chains of loads in one loop, which the
  // processor overlaps. Lanes are numbered in text order: every occurrence of lane k
  // lies before every occurrence of lane k + 1; each lane reports in text order.
  template <class Sink>
  void scan(const unsigned char* text, std::size_t n, Sink&& sink) const {
    Chain chain = start_chain();
    advance(text, n, chain, sink);
    finish(text, n, chain, sink);
  }

  // scan() over many whole texts at once, one text a lane, a lane taking the next text
  // as soon as its own ends: a batch of short texts goes as fast as a long text, where
  // one text's own lanes would cost more than they save. Calls sink(t, occurrence), t
  // the text's index in `texts`, for every occurrence of every text; a text's own come
  // in order, different texts' interleaved.
  template <class Sink>
  void scan_many(std::span<const std::string_view> texts, Sink&& sink) const {
    if (max_match_ == kDead) return;
    if (!trans16_.empty()) {
      many_lanes(trans16_.data(), texts, sink);
    } else {
      many_lanes(trans_.data(), texts, sink);
    }
  }

  // The search of scan() over a text that arrives in pieces: where it stands after the
  // bytes read so far. A later piece is read from `pos` on; the bytes from restart()
  // on must still be there, since a pending occurrence is reported only when the
  // search knows it cannot grow, and the search then goes on from its end.
  struct Chain {
    std::size_t pos;
    std::uint32_t s;         // state
    std::uint32_t last;      // match state of the pending occurrence, DEAD if none
    std::size_t last_end;    // where that occurrence ends
  };
  Chain start_chain() const noexcept { return {0, start_, kDead, 0}; }
  static std::size_t restart(const Chain& c) noexcept { return c.last != kDead ? c.last_end : c.pos; }

  // Reads text[chain.pos, n), reporting as scan() does every occurrence that no later
  // byte can change, and leaves `chain` at n. Positions are indexes into `text`; a
  // caller that drops bytes from the front moves chain.pos and chain.last_end with them.
  template <class Sink>
  void advance(const unsigned char* text, std::size_t n, Chain& chain, Sink&& sink) const {
    if (max_match_ == kDead || chain.pos >= n) {
      chain.pos = std::max(chain.pos, n);
      return;
    }
    Lane lanes[kLanes];
    const int used = prefilter_.active() ? 1 : cut(text, chain, n, lanes);
    if (used == 1 && !prefilter_.active() && n - chain.pos >= kMinGuess) {
      if (!trans16_.empty()) {
        guess_lanes(trans16_.data(), text, n, chain, sink);
      } else {
        guess_lanes(trans_.data(), text, n, chain, sink);
      }
      return;
    }
    if (used == 1) {
      if (!trans16_.empty()) {
        prefilter_.active() ? run_chain<true>(trans16_.data(), text, n, chain, sink)
                            : run_chain<false>(trans16_.data(), text, n, chain, sink);
      } else {
        prefilter_.active() ? run_chain<true>(trans_.data(), text, n, chain, sink)
                            : run_chain<false>(trans_.data(), text, n, chain, sink);
      }
      return;
    }
    if (!trans16_.empty()) {
      run_lanes(trans16_.data(), text, lanes, sink);
    } else {
      run_lanes(trans_.data(), text, lanes, sink);
    }
    const Lane& end = lanes[kLanes - 1];
    chain = {end.i, end.s, end.last, end.last_end};
  }

  // The text ends at n (advance() has read it all): reports the pending occurrence, and
  // what follows it, until none is pending.
  template <class Sink>
  void finish(const unsigned char* text, std::size_t n, Chain& chain, Sink&& sink) const {
    if (max_match_ == kDead) return;
    while (chain.last != kDead) {
      sink(occurrence(chain.last, chain.last_end), kLanes - 1);
      chain = {chain.last_end, start_, kDead, 0};
      if (!trans16_.empty()) {
        run_chain<false>(trans16_.data(), text, n, chain, sink, kLanes - 1);
      } else {
        run_chain<false>(trans_.data(), text, n, chain, sink, kLanes - 1);
      }
    }
  }

  // Searches on from `chain` (one chain of loads, no lanes) for a search that went from
  // START at `after` to n: until this search is at START with nothing pending at a byte
  // where that other one is too (found by running it beside, from `after`), or just after
  // a byte that no pattern contains, at or after `after`. From there on both report the
  // same. Returns true with `chain` there, or false with `chain` at n when there is no
  // such place. In prose the two meet within a word or two.
  template <class Sink>
  bool resync(const unsigned char* text, std::size_t after, std::size_t n, Chain& chain, Sink&& sink) const {
    if (max_match_ == kDead) {
      chain.pos = n;
      return false;
    }
    return trans16_.empty() ? resync_on(trans_.data(), text, after, n, chain, sink)
                            : resync_on(trans16_.data(), text, after, n, chain, sink);
  }

  // Calls f(pattern, end) for the occurrences that start at `start` and end before `end`
  // in text[start, end), longest first: what else than the longest occurrence found there
  // could have started at the same place.
  template <class F>
  void shorter(const unsigned char* text, std::size_t start, std::size_t end, F&& f) const {
    std::uint32_t found[64][2];
    std::size_t n = 0;
    std::uint32_t s = start_;
    for (std::size_t i = start; i + 1 < end && n < 64; ++i) {
      s = trans16_.empty() ? load(trans_.data() + classes_[text[i]], s) : load(trans16_.data() + classes_[text[i]], s);
      if (s == kDead) break;
      if (s <= max_match_) {
        const std::size_t index = s >> id_shift_;
        if (match_len_[index] == i + 1 - start) {
          found[n][0] = match_pattern_[index];
          found[n][1] = static_cast<std::uint32_t>(i + 1 - start);
          ++n;
        }
      }
    }
    while (n-- > 0) f(found[n][0], start + found[n][1]);
  }

  // Heap bytes held: transition table, byte classes, per-match-state data, prefilter.
  std::size_t memory_bytes() const noexcept;

  // The longest pattern, in bytes.
  std::size_t max_pattern_len() const noexcept { return max_pattern_len_; }

  std::size_t state_count() const noexcept { return (trans_.size() + trans16_.size()) >> stride_shift_; }
  std::size_t class_count() const noexcept { return class_count_; }
  bool prefilter_active() const noexcept { return prefilter_.active(); }
  // Whether the table is held at 16 bits an entry (every id fits; see load()).
  bool narrow_table() const noexcept { return !trans16_.empty(); }

 private:
  static constexpr std::uint32_t kDead = 0;

  // The entry for state id `s` in the row that starts at `row` (the class's column).
  // 32-bit ids are pre-multiplied by the stride. 16-bit ids are pre-multiplied by
  // stride / 4 and so count 8-byte units, which the load scales for free: the table
  // then holds four times as many states at 16 bits, which halves it for word lists of
  // several thousand states and keeps it in the second-level cache.
  static std::uint32_t load(const std::uint32_t* row, std::uint32_t s) noexcept { return row[s]; }
  static std::uint32_t load(const std::uint16_t* row, std::uint32_t s) noexcept {
    return *reinterpret_cast<const std::uint16_t*>(reinterpret_cast<const unsigned char*>(row) +
                                                   std::size_t{s} * 8);
  }

  Automaton() = default;

  // The limits on the patterns that both builders check first: their number, then each
  // one's length. False, with `error` saying which, when one is exceeded.
  static bool patterns_within(const std::vector<std::string>& patterns, const Limits& limits,
                              std::string& error);
  // Takes `classes` byte classes (0 shared by the bytes no pattern uses, unless
  // `all_used`) and sets the stride: at least four columns, so that the 16-bit table's
  // ids (state * stride / 4) are whole. Returns the stride.
  std::size_t set_classes(std::size_t classes, bool all_used) noexcept;

  void emit(const std::vector<std::uint32_t>& next, const std::vector<std::uint32_t>& pat,
            const std::vector<std::uint32_t>& len, const std::vector<std::uint32_t>& order,
            std::size_t n_states);

  // One independent search of scan(): the bytes [i, end) are left to read.
  struct Lane {
    std::size_t i;
    std::size_t end;
    std::uint32_t s;
    std::uint32_t last;  // match state of the pending occurrence, DEAD if none
    std::size_t last_end;
  };

  // The lanes of scan() run side by side to their ends over the table `trans`. Lanes cut
  // at bytes that no pattern contains end as the text would there (`guessed` false);
  // lanes cut anywhere just stop at their ends (`guessed` true).
  template <class Entry, class Sink>
  void run_lanes(const Entry* const trans, const unsigned char* text, Lane* lanes, Sink& sink,
                 bool guessed = false) const;

  // A text with no byte that no pattern contains is cut anyway, into equal parts, and
  // each later lane starts at START: a guess of the state that the search is in there.
  // The guess is checked: the search that reached the cut and a search started there
  // again are run side by side until they are in the same state at the same byte; from
  // there on they report the same, so the guess's occurrences before that point are
  // replaced by the search's. In prose they agree within a word or two. Where they never
  // agree, the search goes on through the lane's part and the guess is dropped.
  // Below this the set-up and the guesses' checks cost about what the lanes save (chat
  // messages of 20 to 200 bytes, measured).
  static constexpr std::size_t kMinGuess = 256;
  // How far past an equal share a guessed lane may begin, to begin after a reset byte.
  static constexpr std::size_t kGuessSlide = 24;

  struct Stepper {
    std::size_t i;
    std::uint32_t s, last;
    std::size_t last_end;
  };

  template <class Entry, class Report>
  void step(const Entry* trans, const unsigned char* text, Stepper& t, Report&& report) const {
    t.s = load(trans + classes_[text[t.i]], t.s);
    ++t.i;
    if (t.s <= max_match_) {
      if (t.s == kDead) {
        report(occurrence(t.last, t.last_end));
        t.i = t.last_end;
        t.s = start_;
        t.last = kDead;
      } else {
        t.last = t.s;
        t.last_end = t.i;
      }
    }
  }

  template <class Entry, class Sink>
  bool resync_on(const Entry* trans, const unsigned char* text, std::size_t after, std::size_t n, Chain& chain,
                 Sink& sink) const {
    Stepper t{chain.pos, chain.s, chain.last, chain.last_end};
    Stepper other{after, start_, kDead, 0};
    while (t.i < n) {
      step(trans, text, t, [&](const Occurrence& occ) { sink(occ, 0); });
      if (t.s != start_ || t.last != kDead || t.i <= after) continue;
      bool met = classes_[text[t.i - 1]] == 0;
      if (!met) {
        while (other.i < t.i) step(trans, text, other, [](const Occurrence&) {});
        met = other.i == t.i && other.s == start_ && other.last == kDead;
      }
      if (met) {
        chain = {t.i, t.s, t.last, t.last_end};
        return true;
      }
    }
    chain = {t.i, t.s, t.last, t.last_end};
    return false;
  }

  // One step of one lane of run_lanes or many_lanes: the row for the byte's class is
  // chosen off the chain, and kept opaque so that the compiler cannot fold it into
  // `s + class`.
  template <class Entry>
  static void lane_step(const Entry* trans, const std::uint8_t* cls, unsigned char byte, std::uint32_t& s) noexcept {
    const Entry* row = trans + cls[byte];
#if defined(__GNUC__)
    asm("" : "+r"(row));
#endif
    s = load(row, s);
  }

  // Hands the occurrence that ends at `end` in `state` to the sink, out of line: inlined
  // into the one-chain loop, the sink's code (the whole-word test, in a filter) crowds
  // the loop's values out of registers (chat messages: 320 -> 312 ns a find with it).
  template <class Sink>
  TARNWHISK_NOINLINE void report(Sink& sink, std::uint32_t state, std::size_t end, int lane) const {
    sink(occurrence(state, end), lane);
  }

  template <class Entry, class Sink>
  void many_lanes(const Entry* trans, std::span<const std::string_view> texts, Sink& sink) const;

  template <class Entry, class Sink>
  void guess_lanes(const Entry* trans, const unsigned char* text, std::size_t n, Chain& chain, Sink& sink) const;

  // The search loop. State ids are pre-multiplied by the stride, so a step is one load:
  // the row for the byte's class is chosen first, off the dependency chain on `s`.
  // States are numbered DEAD, match states, START, others: one compare against
  // `special` tells whether the state needs attention. With kSkip, START counts as
  // special too: no occurrence is in progress there, so the prefilter may skip ahead.
  // At DEAD the pending occurrence is reported and the search goes on at its end.
  template <bool kSkip, class Entry, class Sink>
  void run_chain(const Entry* const trans, const unsigned char* text, std::size_t n, Chain& chain,
                 Sink& sink, int lane = 0) const;

  // Texts shorter than this are searched in one piece.
  static constexpr std::size_t kMinCut = 256;

  // Cuts text[chain.pos, n) into kLanes parts at bytes that no pattern contains, near
  // equal spacing, and sets up one lane per part, the first going on from `chain`.
  // Returns kLanes, or 1 when the text is short or has no such bytes where needed.
  int cut(const unsigned char* text, const Chain& chain, std::size_t n, Lane* lanes) const noexcept {
    const std::size_t from = chain.pos;
    if (n - from < kMinCut || !has_free_class_) return 1;
    std::size_t begin = from;
    for (int k = 0; k + 1 < kLanes; ++k) {
      std::size_t q = std::max(from + (n - from) / kLanes * static_cast<std::size_t>(k + 1), begin);
      while (q < n && classes_[text[q]] != 0) ++q;
      if (q >= n) return 1;
      lanes[k] = {begin, q, start_, kDead, 0};
      begin = q + 1;
    }
    lanes[0].s = chain.s;
    lanes[0].last = chain.last;
    lanes[0].last_end = chain.last_end;
    lanes[kLanes - 1] = {begin, n, start_, kDead, 0};
    return kLanes;
  }

  Occurrence occurrence(std::uint32_t state, std::size_t end) const noexcept {
    const std::size_t index = state >> id_shift_;
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
  template <class Entry, class Sink>
  void run_to_end(const Entry* trans, Lane& lane, const unsigned char* text, int id, Sink& sink) const {
    // The state and position in locals, so that they stay in registers between the
    // rare calls: through `lane` every step would wait for its own store.
    std::uint32_t s = lane.s;
    std::size_t i = lane.i;
    const std::size_t end = lane.end;
    const std::uint32_t max_match = max_match_;
    while (i < end) {
      s = load(trans + classes_[text[i]], s);
      ++i;
      if (s <= max_match) [[unlikely]] {
        lane.s = s;
        lane.i = i;
        settle(lane, id, sink);
        s = lane.s;
        i = lane.i;
      }
    }
    lane.s = s;
    lane.i = i;
  }

  // Runs a lane alone to its end, which is as good as the end of the text: a pending
  // occurrence is reported and the lane goes on after it.
  template <class Entry, class Sink>
  void drain(const Entry* trans, Lane& lane, const unsigned char* text, int id, Sink& sink) const {
    for (;;) {
      run_to_end(trans, lane, text, id, sink);
      if (lane.last == kDead) return;
      sink(occurrence(lane.last, lane.last_end), id);
      lane.i = lane.last_end;
      lane.s = start_;
      lane.last = kDead;
    }
  }

  // [state * stride + class]. Exactly one of the two is filled: the 16-bit one whenever
  // every id fits (see load()), which halves the table and so the cache lines that the
  // search touches.
  std::vector<std::uint32_t> trans_;
  std::vector<std::uint16_t> trans16_;
  std::array<std::uint8_t, 256> classes_{};  // byte -> class
  std::vector<std::uint32_t> match_pattern_;  // by state index, for DEAD and match states
  std::vector<std::uint32_t> match_len_;      // length of that pattern
  std::uint32_t start_ = 0;      // id of START
  std::uint32_t max_match_ = 0;  // id of the last match state (DEAD if none)
  unsigned stride_shift_ = 0;
  unsigned id_shift_ = 0;        // state index = id >> id_shift_
  std::size_t class_count_ = 0;
  bool has_free_class_ = false;  // class 0 holds bytes that no pattern contains
  // Bytes after which the search is at START from nearly every state (a space in most
  // word lists): the places where a guessed lane is best begun.
  std::array<bool, 256> resets_{};
  std::size_t max_pattern_len_ = 0;
  Prefilter prefilter_;
};

}  // namespace tarnwhisk

// The search loops' bodies.
#include "matcher/automaton_search.hpp"
