// The scan of a normalised text that grows at its end (a long text normalised piece by
// piece, or a stream) and is cut from its front as it goes: the automaton's search
// carries over, the whole-word test waits for a neighbour that is not final yet, and
// every hit leaves in text order once it is decided. Matcher::scan is this scan over
// one whole text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "matcher/automaton.hpp"
#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

class ScanStream {
 public:
  ScanStream(const Matcher& matcher, MatchMode mode) noexcept;

  // `win` holds the normalised text from absolute byte base() on; its first
  // `stable_bytes` bytes are final. Scans them and appends to `out` the hits that are
  // decided, in order, with absolute normalised positions.
  void scan(const NormalizedText& win, std::size_t stable_bytes, std::vector<Match>& out);
  // The text ends with `win`, all of it final: appends every hit still to come.
  void finish(const NormalizedText& win, std::vector<Match>& out);
  // finish() for a whole text whose occurrences a search has found already (all of them,
  // in order, as Automaton::scan reports them): for texts searched side by side
  // (Automaton::scan_many). Where an occurrence turns out absent (the thorough level),
  // the search behind it is done here, on the text, as finish() would.
  void finish_found(const NormalizedText& win, const OccurrenceList& found, std::vector<Match>& out);
  // Erases from the front of `win` what no later scan needs (the stable characters
  // given to scan(), up to the longest pattern and one byte before the search).
  void trim(NormalizedText& win);

  // Where win.text[0] stands in the whole normalised text.
  std::size_t base() const noexcept { return base_; }
  // The smallest source offset at which a hit not yet handed out may start (no more than
  // `fallback`, the end of what was given): the start of the first waiting hit, or of
  // the first character still in `win`.
  std::size_t settled(const NormalizedText& win, std::size_t fallback) const noexcept;

 private:
  static constexpr std::size_t kNoMark = static_cast<std::size_t>(-1);
  // The longest local part of an e-mail address that mail must carry.
  static constexpr std::size_t kLocalPartBytes = 64;
  // The longest domain of an address; a walk back over one stays inside the window.
  static constexpr std::size_t kDomainBytes = 255;
  // A hit whose right neighbour was not final when it was found.
  struct Pending {
    Match hit;
    std::size_t next;  // absolute byte of the next character to look at
    bool walking;      // a run of symbols' letters after the hit is being walked
    bool decided;
    bool accepted;
    // Thorough: the hit is followed by "." or "-" and what comes after is walked as the
    // rest of an e-mail address's local part, up to this absolute byte.
    std::size_t address_end = kNoMark;
    bool after_separator = false;  // the last byte walked was that "." or "-"
  };
  // What stands just before win.text[0], for a walk to the left that reaches it.
  enum class Before : std::uint8_t { Start, NonWord, Word, SymbolsThenNonWord, SymbolsThenWord };

  class Window;
  void masks(const NormalizedText& win, std::size_t limit, bool final, std::size_t out_start,
             std::vector<Match>& out);
  // What became of an occurrence: a hit (perhaps a shorter one at the same place),
  // nothing (not a whole word: it still takes up its bytes), or nothing because the text
  // does not have the word's doubled letters, in which case the search goes on as if the
  // occurrence had not been there.
  enum class Taken : std::uint8_t { Hit, Rejected, Absent };
  Taken take(const Window& w, const Occurrence& occ, std::size_t stable_bytes, bool final,
             std::vector<Match>& out);
  void walk(const Window& w, Pending& p, std::size_t stable_bytes, bool final) const;
  // Whether the "." or "-" at byte b (before a hit) belongs to the domain of an e-mail
  // address ("me@mail.dick.com").
  bool in_domain(const Window& w, std::size_t b) const;
  void settle(std::vector<Match>& out);
  // `found`: the occurrences when they were searched for already, else null.
  void run(const NormalizedText& win, std::size_t stable_bytes, bool final, std::vector<Match>& out,
           const OccurrenceList* found = nullptr);

  const Matcher& matcher_;
  const Automaton& automaton_;
  const bool boundaries_;
  const bool addresses_;  // thorough, whole words: a word inside an e-mail address is none
  Automaton::Chain chain_;
  std::size_t base_ = 0;
  Before before_ = Before::Start;
  std::vector<Pending> queue_;  // undecided hits and the ones behind them, in order
  std::size_t head_ = 0;        // queue_[head_...] still wait
  OccurrenceList lanes_[Automaton::kLanes - 1];  // later lanes' occurrences
  std::vector<Occurrence> occurrences_;  // at the thorough level, all of a round's
  std::size_t first_new_ = 0;   // where this round's hits begin in `out`
  bool undecided_ = false;      // some hit of this round waits for its right neighbour
  // Tokens with masks ("f*ck"), matched apart from the automaton at the thorough level:
  // where to look for the next "*", the start of a token that may go on, and the hits
  // held back until such a token is complete, in order. All absolute normalised bytes.
  std::size_t mask_from_ = 0;
  std::size_t mask_open_ = kNoMark;
  std::vector<Match> held_;
  std::size_t released_end_ = 0;  // where the last hit handed out ends      // some hit of this round waits for its right neighbour
};

}  // namespace tarnwhisk
