// The whole-word test, the mapping of hits to the source and the order in which hits
// leave, for a normalised text seen through a window that moves along it. The hits of
// tokens with masks ("f*ck", at Thorough) are merged in by scan_masks.inc.
#include "matcher/scan_stream.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <tuple>

#include "ascii.hpp"
#include "matcher/scan_window.hpp"
#include "matcher/thorough_patterns.hpp"
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

}  // namespace

ScanStream::ScanStream(const Matcher& matcher, MatchMode mode) noexcept
    : matcher_(matcher),
      automaton_(matcher.automaton()),
      boundaries_(mode == MatchMode::WordBoundary),
      addresses_(boundaries_ && matcher.choices() != nullptr),
      chain_(automaton_.start_chain()) {}

// The whole-word test of the occurrence, or its postponement: a neighbour that is a word
// byte joins the hit to a word, except a letter that leetspeak made of "!", "$" or "@"
// (kSymbolFirst after the hit, kSymbolLast before it): that is punctuation unless the
// run of such letters has a word byte right behind it, on the side away from the hit
// ("shit!" and "shit!?" are hits, "hell@example.com" is not). Where collapse merged a
// run into the neighbour, the source character next to the hit decides, which is what
// the two flags tell.
ScanStream::Taken ScanStream::take(const Window& w, const Occurrence& occ, std::size_t stable_bytes, bool final,
                                   std::vector<Match>& out) {
  std::size_t id = occ.pattern;
  Occurrence o = occ;
  if (const PatternChoices* choices = matcher_.choices()) {
    // The first entry of the pattern whose doubled letters are doubled in the text (its
    // stretches of letters written as one run, stretched), and whose single letters are
    // not; failing that, of a shorter occurrence at the same place ("raand!" is no
    // "randi", but "raand").
    const std::size_t first = w.index_of(occ.start);
    auto choose = [&](std::uint32_t pattern) {
      for (const PatternChoice& choice : choices->by_pattern[pattern]) {
        bool ok = true;
        for (std::uint32_t k : choice.doubled) ok = ok && (w.flags_of_char(first + k) & kDoubled) != 0;
        for (std::uint32_t k : choice.stretched) ok = ok && (w.flags_of_char(first + k) & kStretched) != 0;
        for (std::uint32_t k : choice.single) {
          const std::uint8_t f = w.flags_of_char(first + k);
          // A letter doubled in the text is no single letter unless stretched; a run of
          // symbols ("sh!!t") is emphasis, not a letter the writer doubled, and so is a
          // symbol next to the letter it stands for ("\u00a1injun", "$shit").
          ok = ok && ((f & kDoubled) == 0 || (f & (kStretched | kSymbolFirst | kSymbolLast)) != 0);
        }
        if (ok) return static_cast<std::size_t>(choice.entry);
      }
      return kNoEntry;
    };
    id = choose(occ.pattern);
    if (id == kNoEntry) {
      const auto* text = reinterpret_cast<const unsigned char*>(w.text().text.data());
      automaton_.shorter(text, occ.start, occ.end, [&](std::uint32_t pattern, std::size_t end) {
        if (id != kNoEntry) return;
        id = choose(pattern);
        if (id != kNoEntry) o = {pattern, occ.start, end};
      });
    }
    if (id == kNoEntry) return Taken::Absent;
  }
  const WordEntry& entry = matcher_.entries()[id];
  Pending p{{o.start, o.end, base_ + o.start, base_ + o.end, id, entry.category, entry.severity},
            base_ + o.end, false, true, true};
  if (boundaries_ && !entry.strict) {
    // To the left: all of it is final, and the window keeps at least the byte before
    // the search position; a walk that reaches the window's start asks before_.
    if (o.start > 0 && w.word(o.start - 1) && !w.joined(o.start)) {
      std::size_t b = o.start;
      while (b > 0 && w.symbol(b - 1, kSymbolLast)) --b;
      if (b == o.start) return Taken::Rejected;
      if (b > 0 ? w.word(b - 1)
                : (before_ == Before::Word || before_ == Before::SymbolsThenWord))
        return Taken::Rejected;
    }
    if (addresses_ && o.start > 0 && !w.joined(o.start) && in_domain(w, o.start - 1)) return Taken::Rejected;
    walk(w, p, stable_bytes, final);
    if (p.decided && !p.accepted) return Taken::Rejected;
  }
  if (!p.decided) undecided_ = true;
  if (head_ < queue_.size() || undecided_) {
    queue_.push_back(p);
  } else {
    out.push_back(p.hit);
  }
  return Taken::Hit;
}

// Decides the right neighbour of a hit as far as the final bytes allow; at the end of
// the text (`final`) a hit with nothing or only symbols' letters after it is accepted.
void ScanStream::walk(const Window& w, Pending& p, std::size_t stable_bytes, bool final) const {
  std::size_t b = p.next - base_;
  if (!p.walking && p.address_end == kNoMark && b < stable_bytes) {
    if (addresses_ && !w.joined(b) && w.address_separator(b)) {
      p.address_end = base_ + b + kLocalPartBytes;
      p.after_separator = true;
      ++b;
    } else if (!w.word(b) || w.joined(b)) {
      p.decided = p.accepted = true;
      return;
    } else if (!w.symbol(b, kSymbolFirst)) {
      p.decided = true;
      p.accepted = false;
      return;
    } else {
      p.walking = true;
      ++b;
    }
  }
  if (p.walking) {
    while (b < stable_bytes && w.symbol(b, kSymbolFirst)) ++b;  // one byte, one character
    if (b < stable_bytes) {
      p.decided = true;
      p.accepted = !w.word(b);
      return;
    }
  }
  if (p.address_end != kNoMark) {
    // "dick.smith@example.org": the hit is part of an address, no word of the text. The
    // local part goes on over word bytes, each "." or "-" followed by one, to an "@"
    // (the code it became, as a symbol) with a word byte after it.
    for (; b < stable_bytes; ++b) {
      const bool at = w.at_sign(b, kSymbolFirst);
      bool goes_on = false;
      if (p.after_separator) {
        goes_on = w.word(b) && !at;
        p.after_separator = false;
      } else if (at) {
        if (b + 1 == stable_bytes) break;
        p.decided = true;
        p.accepted = !w.word(b + 1);
        return;
      } else {
        goes_on = w.word(b) || w.address_separator(b);
        p.after_separator = !w.word(b);
      }
      if (!goes_on || base_ + b >= p.address_end) {
        p.decided = p.accepted = true;
        return;
      }
    }
  }
  p.next = base_ + b;
  if (final) {
    p.decided = p.accepted = true;
  } else {
    p.decided = false;
  }
}

bool ScanStream::in_domain(const Window& w, std::size_t b) const {
  if (!w.address_separator(b)) return false;
  // Back over the labels before it, each "." or "-" with a word byte on either side, to
  // an "@" with a word byte before it.
  const std::size_t stop = b > kDomainBytes ? b - kDomainBytes : 0;
  bool separator = true;  // the byte after the one looked at is a separator
  while (b > stop) {
    const std::size_t c = b - 1;
    if (w.at_sign(c, kSymbolFirst | kSymbolLast))
      return !separator && c > 0 && w.word(c - 1);
    if (w.word(c)) {
      separator = false;
    } else if (w.address_separator(c) && !separator) {
      separator = true;
    } else {
      return false;
    }
    b = c;
  }
  return false;
}

// Hands over the decided hits at the front of the queue.
void ScanStream::settle(std::vector<Match>& out) {
  while (head_ < queue_.size() && queue_[head_].decided) {
    if (queue_[head_].accepted) out.push_back(queue_[head_].hit);
    ++head_;
  }
  if (head_ == queue_.size()) {
    queue_.clear();
    head_ = 0;
  }
}

void ScanStream::run(const NormalizedText& win, std::size_t stable_bytes, bool final, std::vector<Match>& out,
                     const OccurrenceList* found) {
  const Window w(win);
  const std::size_t out_start = out.size();
  for (std::size_t k = head_; k < queue_.size(); ++k)
    if (!queue_[k].decided) walk(w, queue_[k], stable_bytes, final);
  settle(out);

  first_new_ = out.size();
  const std::size_t queued = queue_.size();
  undecided_ = false;
  const auto* text = reinterpret_cast<const unsigned char*>(win.text.data());
  if (matcher_.choices() == nullptr && found) {
    for (const Occurrence& occ : *found) take(w, occ, stable_bytes, final, out);
  } else if (matcher_.choices() == nullptr) {
    // The first lane's occurrences are taken as they come; the later lanes' wait, since
    // every occurrence of a lane lies before those of the next.
    auto sink = [&](const Occurrence& occ, int lane) {
      if (lane == 0) {
        take(w, occ, stable_bytes, final, out);
      } else {
        lanes_[lane - 1].push_back(occ);
      }
    };
    automaton_.advance(text, stable_bytes, chain_, sink);
    if (final) automaton_.finish(text, stable_bytes, chain_, sink);
    // finish() reports on the last lane, after the lanes of advance().
    for (auto& lane : lanes_) {
      for (const Occurrence& occ : lane) take(w, occ, stable_bytes, final, out);
      lane.clear();
    }
  } else {
    // At the thorough level an occurrence may be absent (its word's doubled letters are
    // not doubled in the text): then the search starts again one byte after it, until it
    // is back in step with the first one.
    std::vector<Occurrence>& occs = occurrences_;
    occs.clear();
    if (found) {
      occs.assign(found->begin(), found->end());
    } else {
      auto sink = [&](const Occurrence& occ, int lane) {
        if (lane == 0) {
          occs.push_back(occ);
        } else {
          lanes_[lane - 1].push_back(occ);
        }
      };
      automaton_.advance(text, stable_bytes, chain_, sink);
      if (final) automaton_.finish(text, stable_bytes, chain_, sink);
      for (auto& lane : lanes_) {
        occs.insert(occs.end(), lane.begin(), lane.end());
        lane.clear();
      }
    }
    // The occurrences found again after an absent one wait in `redo`, last first, and
    // are taken before the rest of `occs`.
    std::vector<Occurrence> again, redo;
    std::size_t k = 0;
    for (;;) {
      Occurrence occ;
      if (!redo.empty()) {
        occ = redo.back();
        redo.pop_back();
      } else if (k < occs.size()) {
        occ = occs[k++];
      } else {
        break;
      }
      if (take(w, occ, stable_bytes, final, out) != Taken::Absent) continue;
      again.clear();
      auto collect = [&](const Occurrence& o, int) { again.push_back(o); };
      Automaton::Chain chain{occ.start + 1, automaton_.start_chain().s, automaton_.start_chain().last, 0};
      if (automaton_.resync(text, occ.end, stable_bytes, chain, collect)) {
        // From chain.pos on, the first search reported what this one would.
        while (k < occs.size() && occs[k].start < chain.pos) ++k;
        while (!redo.empty() && redo.back().start < chain.pos) redo.pop_back();
      } else {
        chain_ = chain;
        if (final) automaton_.finish(text, stable_bytes, chain_, collect);
        k = occs.size();
        redo.clear();
      }
      redo.insert(redo.end(), again.rbegin(), again.rend());
    }
  }

  // The source spans of this round's hits, in text order: those in `out`, then those
  // queued. With one character per byte (every ASCII text) a span maps directly.
  auto map_all = [&](auto&& map) {
    for (std::size_t k = first_new_; k < out.size(); ++k) map(out[k]);
    for (std::size_t k = queued; k < queue_.size(); ++k) map(queue_[k].hit);
  };
  const SourceRange* const offsets = win.offsets.data();
  if (win.offsets.size() == win.text.size()) {
    map_all([&](Match& hit) {
      const std::size_t s = hit.start, e = hit.end;
      hit.start = offsets[s].start;  // starts never decrease
      hit.end = offsets[s].end;
      for (std::size_t k = s + 1; k < e; ++k) hit.end = std::max(hit.end, offsets[k].end);
    });
  } else {
    SpanMapper mapper(win);
    map_all([&](Match& hit) { std::tie(hit.start, hit.end) = mapper.map(hit.start, hit.end); });
  }
  settle(out);
  const PatternChoices* choices = matcher_.choices();
  if (choices && !choices->mask_words.empty()) {
    masks(win, stable_bytes, final, out_start, out);
  }
}

void ScanStream::scan(const NormalizedText& win, std::size_t stable_bytes, std::vector<Match>& out) {
  run(win, stable_bytes, false, out);
}

void ScanStream::finish(const NormalizedText& win, std::vector<Match>& out) {
  run(win, win.text.size(), true, out);
}

void ScanStream::finish_found(const NormalizedText& win, const OccurrenceList& found, std::vector<Match>& out) {
  run(win, win.text.size(), true, out, &found);
}

std::size_t ScanStream::settled(const NormalizedText& win, std::size_t fallback) const noexcept {
  std::size_t at = fallback;
  if (head_ < queue_.size()) at = std::min(at, queue_[head_].hit.start);
  if (!held_.empty()) at = std::min(at, held_.front().start);
  if (!win.offsets.empty()) at = std::min(at, win.offsets.front().start);
  return at;
}

void ScanStream::trim(NormalizedText& win) {
  // Keep what the search may read again (a pending occurrence, or one in progress, is
  // no longer than the longest pattern) and the byte before it, and what undecided hits
  // still look at.
  std::size_t keep = chain_.pos;
  keep -= std::min(keep, automaton_.max_pattern_len() + 1 + (addresses_ ? kDomainBytes + 1 : 0));
  for (std::size_t k = head_; k < queue_.size(); ++k)
    if (!queue_[k].decided) keep = std::min(keep, queue_[k].next - base_);
  if (const PatternChoices* choices = matcher_.choices(); choices && !choices->mask_words.empty()) {
    // A token with a mask is looked at from its start, up to twice the longest word back
    // from where the search for "*" goes on.
    const std::size_t from = (mask_open_ != kNoMark ? mask_open_ : mask_from_) - base_;
    keep = std::min(keep, from - std::min(from, 2 * choices->max_mask_word + 1));
  }
  while (keep > 0 && (static_cast<unsigned char>(win.text[keep]) & 0xC0) == 0x80) --keep;
  if (keep == 0) return;

  const Window w(win);
  const std::size_t chars = w.index_of(keep);
  // What stands before the new start, for walks to the left that reach it.
  std::size_t b = keep;
  while (b > 0 && w.word(b - 1) && w.symbol(b - 1, kSymbolLast)) --b;
  if (b == 0) {
    const bool word_behind = before_ == Before::Word || before_ == Before::SymbolsThenWord;
    before_ = word_behind ? Before::SymbolsThenWord : Before::SymbolsThenNonWord;
  } else if (b == keep) {
    before_ = w.word(b - 1) ? Before::Word : Before::NonWord;
  } else {
    before_ = w.word(b - 1) ? Before::SymbolsThenWord : Before::SymbolsThenNonWord;
  }

  win.text.erase(0, keep);
  win.offsets.erase(win.offsets.begin(), win.offsets.begin() + static_cast<std::ptrdiff_t>(chars));
  if (!win.flags.empty())
    win.flags.erase(win.flags.begin(), win.flags.begin() + static_cast<std::ptrdiff_t>(chars));
  base_ += keep;
  chain_.pos -= keep;
  if (chain_.last_end >= keep) chain_.last_end -= keep;
}

}  // namespace tarnwhisk

// The tokens with masks, in this translation unit (scan_masks.inc says why).
#include "matcher/scan_masks.inc"
