// The search loops of the automaton (automaton.hpp) that stay out of the class body so
// that it reads as the interface: the lanes run side by side, the lanes that start from a
// guess, and the one-chain loop. Included at the end of automaton.hpp; not on its own.
#pragma once

#include <algorithm>

#include "matcher/automaton.hpp"

namespace tarnwhisk {

template <class Entry, class Sink>
inline void Automaton::run_lanes(const Entry* const trans, const unsigned char* text, Lane* lanes, Sink& sink,
                               bool guessed) const {
  const std::uint8_t* const cls = classes_.data();
  const std::uint32_t max_match = max_match_;
  auto step = [&](unsigned char byte, std::uint32_t& s) { lane_step(trans, cls, byte, s); };
  static_assert(kLanes == 4, "the loop below runs four lanes");
  for (;;) {
    // Every lane can take `steps` more bytes: a lane that restarts after an
    // occurrence only moves back.
    std::size_t steps = lanes[0].end - lanes[0].i;
    for (int k = 1; k < kLanes; ++k) steps = std::min(steps, lanes[k].end - lanes[k].i);
    if (steps == 0) break;
    // The loop makes no calls, so the lanes' states stay in registers; they go back
    // to `lanes` only when a lane needs attention. One index, counting up to zero from
    // below the ends of the lanes' stretches, serves all four lanes, so that the loop
    // spends one instruction on positions and its test.
    const auto count = static_cast<std::ptrdiff_t>(steps);
    const unsigned char* const e0 = text + lanes[0].i + steps;
    const unsigned char* const e1 = text + lanes[1].i + steps;
    const unsigned char* const e2 = text + lanes[2].i + steps;
    const unsigned char* const e3 = text + lanes[3].i + steps;
    std::uint32_t s0 = lanes[0].s, s1 = lanes[1].s, s2 = lanes[2].s, s3 = lanes[3].s;
    bool attention = false;
    std::ptrdiff_t j = -count;
    do {
      step(e0[j], s0);
      step(e1[j], s1);
      step(e2[j], s2);
      step(e3[j], s3);
      ++j;
      if ((s0 <= max_match) | (s1 <= max_match) | (s2 <= max_match) | (s3 <= max_match)) [[unlikely]] {
        attention = true;
        break;
      }
    } while (j != 0);
    const auto taken = static_cast<std::size_t>(count + j);
    for (int k = 0; k < kLanes; ++k) lanes[k].i += taken;
    lanes[0].s = s0;
    lanes[1].s = s1;
    lanes[2].s = s2;
    lanes[3].s = s3;
    if (attention)
      for (int k = 0; k < kLanes; ++k)
        if (lanes[k].s <= max_match) settle(lanes[k], k, sink);
  }
  // Every lane but the last ends at a byte that no pattern contains; the last goes on
  // in the next piece.
  for (int k = 0; k + 1 < kLanes; ++k) {
    if (guessed) {
      run_to_end(trans, lanes[k], text, k, sink);
    } else {
      drain(trans, lanes[k], text, k, sink);
    }
  }
  run_to_end(trans, lanes[kLanes - 1], text, kLanes - 1, sink);
}

template <class Entry, class Sink>
inline void Automaton::many_lanes(const Entry* const trans, std::span<const std::string_view> texts,
                                  Sink& sink) const {
  const std::uint8_t* const cls = classes_.data();
  const std::uint32_t max_match = max_match_;
  struct Slot {
    const unsigned char* text;
    std::size_t index;
    Lane lane;
  };
  Slot slots[kLanes];
  std::size_t next = 0;
  // Gives `slot` the next text that is not empty; false when none is left.
  auto refill = [&](Slot& slot) {
    while (next < texts.size() && texts[next].empty()) ++next;
    if (next == texts.size()) return false;
    slot = {reinterpret_cast<const unsigned char*>(texts[next].data()), next, {0, texts[next].size(), start_, kDead, 0}};
    ++next;
    return true;
  };
  auto step = [&](unsigned char byte, std::uint32_t& s) { lane_step(trans, cls, byte, s); };
  static_assert(kLanes == 4, "the loop below runs four lanes");
  int active = 0;
  while (active < kLanes && refill(slots[active])) ++active;
  while (active == kLanes) {
    // As in run_lanes, with a text of its own for every lane; no lane is ever at its
    // end here, since one that gets there takes the next text at once.
    std::size_t steps = slots[0].lane.end - slots[0].lane.i;
    for (int k = 1; k < kLanes; ++k) steps = std::min(steps, slots[k].lane.end - slots[k].lane.i);
    const auto count = static_cast<std::ptrdiff_t>(steps);
    const unsigned char* const e0 = slots[0].text + slots[0].lane.i + steps;
    const unsigned char* const e1 = slots[1].text + slots[1].lane.i + steps;
    const unsigned char* const e2 = slots[2].text + slots[2].lane.i + steps;
    const unsigned char* const e3 = slots[3].text + slots[3].lane.i + steps;
    std::uint32_t s0 = slots[0].lane.s, s1 = slots[1].lane.s, s2 = slots[2].lane.s, s3 = slots[3].lane.s;
    std::ptrdiff_t j = -count;
    do {
      step(e0[j], s0);
      step(e1[j], s1);
      step(e2[j], s2);
      step(e3[j], s3);
      ++j;
      if ((s0 <= max_match) | (s1 <= max_match) | (s2 <= max_match) | (s3 <= max_match)) [[unlikely]]
        break;
    } while (j != 0);
    const auto taken = static_cast<std::size_t>(count + j);
    slots[0].lane.s = s0;
    slots[1].lane.s = s1;
    slots[2].lane.s = s2;
    slots[3].lane.s = s3;
    for (int k = 0; k < active;) {
      Slot& slot = slots[k];
      slot.lane.i += taken;
      auto report = [&sink, index = slot.index](const Occurrence& occ, int) { sink(index, occ); };
      if (slot.lane.s <= max_match) settle(slot.lane, 0, report);
      if (slot.lane.i < slot.lane.end) {
        ++k;
        continue;
      }
      // The text ends here: what is pending is reported, and the search goes on after it.
      drain(trans, slot.lane, slot.text, 0, report);
      if (refill(slot)) {
        ++k;
        continue;
      }
      // No text is left for this lane: the last lane takes its place, and is looked at
      // next (it comes later in this loop, so its `taken` bytes are not yet counted).
      --active;
      if (k != active) slot = slots[active];
    }
  }
  // Fewer texts than lanes are left: each goes on alone.
  for (int k = 0; k < active; ++k) {
    auto report = [&sink, index = slots[k].index](const Occurrence& occ, int) { sink(index, occ); };
    drain(trans, slots[k].lane, slots[k].text, 0, report);
  }
}

template <class Entry, class Sink>
inline void Automaton::guess_lanes(const Entry* trans, const unsigned char* text, std::size_t n, Chain& chain, Sink& sink) const {
  const std::size_t from = chain.pos, part = (n - from) / kLanes;
  std::size_t begin[kLanes + 1];
  begin[0] = from;
  for (int k = 1; k < kLanes; ++k) {
    // Just after a byte that sends (nearly) every state back to START, if one is near:
    // there the search is most likely at START, as the guess is, and the check is over
    // at once.
    // The nearest on either side, so that the lanes stay close to equal: the part of a
    // lane beyond the shortest one runs alone.
    const std::size_t q = std::max(from + part * static_cast<std::size_t>(k), begin[k - 1]);
    std::size_t after = n, before = q;
    for (std::size_t j = q, limit = std::min(q + kGuessSlide, n); j < limit; ++j) {
      if (resets_[text[j]]) {
        after = j + 1;
        break;
      }
    }
    for (std::size_t j = q, limit = std::max(q - std::min(q, kGuessSlide), begin[k - 1]); j > limit; --j) {
      if (resets_[text[j - 1]]) {
        before = j;
        break;
      }
    }
    if (after < n && (before == q || after - q <= q - before)) {
      begin[k] = after;
    } else {
      begin[k] = before;
    }
  }
  begin[kLanes] = n;
  Lane lanes[kLanes];
  lanes[0] = {from, begin[1], chain.s, chain.last, chain.last_end};
  for (int k = 1; k < kLanes; ++k) lanes[k] = {begin[k], begin[k + 1], start_, kDead, 0};
  // The first lane is the search itself; the others' occurrences wait for the check.
  OccurrenceList guessed[kLanes];
  auto collect = [&](const Occurrence& occ, int lane) {
    if (lane == 0) {
      sink(occ, 0);
    } else {
      guessed[lane].push_back(occ);
    }
  };
  run_lanes(trans, text, lanes, collect, true);
  Stepper truth{lanes[0].i, lanes[0].s, lanes[0].last, lanes[0].last_end};
  for (int k = 1; k < kLanes; ++k) {
    const std::size_t end = begin[k + 1];
    if (truth.i == begin[k] && truth.s == start_ && truth.last == kDead) {
      // The guess was right from its first byte (the usual case after a reset byte).
      for (const Occurrence& occ : guessed[k]) sink(occ, k);
      truth = {lanes[k].i, lanes[k].s, lanes[k].last, lanes[k].last_end};
      continue;
    }
    Stepper guess{begin[k], start_, kDead, 0};
    std::size_t wrong = 0;  // occurrences the guess reported before it agreed
    auto agree = [&] {
      return truth.i == guess.i && truth.s == guess.s && truth.last == guess.last &&
             (truth.last == kDead || truth.last_end == guess.last_end);
    };
    bool agreed = agree();
    while (!agreed && truth.i < end) {
      if (guess.i < truth.i && guess.i < end) {
        step(trans, text, guess, [&](const Occurrence&) { ++wrong; });
      } else {
        step(trans, text, truth, [&](const Occurrence& occ) { sink(occ, k); });
      }
      agreed = agree();
    }
    if (agreed) {
      for (std::size_t j = wrong; j < guessed[k].size(); ++j) sink(guessed[k][j], k);
      truth = {lanes[k].i, lanes[k].s, lanes[k].last, lanes[k].last_end};
    }
  }
  chain = {truth.i, truth.s, truth.last, truth.last_end};
}

template <bool kSkip, class Entry, class Sink>
inline void Automaton::run_chain(const Entry* const trans, const unsigned char* text, std::size_t n, Chain& chain,
                               Sink& sink, int lane) const {
  const std::uint8_t* const cls = classes_.data();
  const std::uint32_t special = kSkip ? start_ : max_match_;
  const std::uint32_t max_match = max_match_;
  std::uint32_t s = chain.s;
  std::uint32_t last = chain.last;
  std::size_t last_end = chain.last_end;
  std::size_t i = chain.pos;
  if constexpr (kSkip) {
    if (s == start_) i = prefilter_.next(text, n, i);
  }
  while (i < n) {
    const Entry* row = trans + cls[text[i]];
#if defined(__GNUC__)
    // Keeps the row address opaque, so the compiler cannot fold it into `s + class`:
    // that addition would lengthen the chain of dependent loads by a cycle a byte.
    asm("" : "+r"(row));
#endif
    s = load(row, s);
    ++i;
    if (s <= special) [[unlikely]] {
      if (s == kDead) {
        report(sink, last, last_end, lane);
        i = last_end;
        s = start_;
        last = kDead;
        if constexpr (kSkip) i = prefilter_.next(text, n, i);
      } else if (s <= max_match) {
        last = s;
        last_end = i;
      } else if constexpr (kSkip) {
        i = prefilter_.next(text, n, i);
      }
    }
  }
  chain = {std::max(i, n), s, last, last_end};
}

}  // namespace tarnwhisk
