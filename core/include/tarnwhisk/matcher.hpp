// The matcher: finds word entries in normalised text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tarnwhisk/data.hpp"
#include "tarnwhisk/error.hpp"
#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {

// Which occurrences count.
enum class MatchMode : std::uint8_t {
  WordBoundary = 0,  // entries that are not strict must stand as whole words
  Substring = 1,     // every occurrence counts, also inside longer words
};

// One hit. All positions are byte offsets, half-open: [start, end) in the caller's text,
// [normalized_start, normalized_end) in the normalised text that was scanned.
struct Match {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t normalized_start = 0;
  std::size_t normalized_end = 0;
  std::size_t word_id = 0;  // index of the entry in the matcher's entry list
  Category category = Category::Strong;
  std::uint8_t severity = 0;

  bool operator==(const Match&) const = default;
};

// Knobs of the automaton. They change speed and capacity, never results.
struct MatcherOptions {
  // Skip ahead to positions where a pattern can start. Off runs the plain automaton.
  bool prefilter = true;
  // Largest number of patterns; at most 2^32 - 1 (identifiers are 32-bit).
  std::size_t max_patterns = 0xFFFFFFFFu;
  // Longest pattern in bytes.
  std::size_t max_pattern_len = 1u << 20;
  // Largest number of automaton states (state ids are 32-bit, pre-multiplied by the
  // table stride).
  std::size_t max_states = 1u << 24;
};

class Automaton;
struct PatternChoices;

// A compiled set of word entries. Immutable after create(); scan() may run on many
// threads at once.
class Matcher {
 public:
  // Compiles `entries` for text normalised at `level`. Pattern i is
  // normalize(entries[i].word, Basic).text at every level but Thorough; at Thorough the
  // words are compiled from their thorough form, each letter accepting the codes and
  // the letters that may stand for it ("i": also l; "u": also v; "f": also "ph"), and a
  // doubled letter of a word needs a doubled character in the text. Entries whose
  // pattern is empty are kept in the list (their ids stay valid) but never match.
  // Fails with Error::MatcherBuild when the pattern set exceeds the automaton's limits.
  static Result<Matcher> create(std::vector<WordEntry> entries, const MatcherOptions& options = {},
                                NormalizationLevel level = NormalizationLevel::Basic);

  Matcher(Matcher&&) noexcept;
  Matcher& operator=(Matcher&&) noexcept;
  ~Matcher();

  // All accepted occurrences in `normalized.text`, leftmost-longest and non-overlapping,
  // in increasing order of normalized_start, each mapped to source bytes through
  // normalized.source_span. Under WordBoundary an entry that is not strict counts only
  // where neither neighbour byte is an ASCII letter, digit or "_", with one exception: a
  // neighbour that leetspeak made of "!", "$" or "@" (flagged kSymbolFirst after a hit,
  // kSymbolLast before one) is punctuation, unless the run of such neighbours has a word
  // byte right behind it on the side away from the hit. So "shit!" and "shit!?" are
  // hits, "hell@example.com" is not. At Thorough a word inside an e-mail address is no
  // whole word either: one of its local part ("dick.smith@example.org", a word followed by
  // "." or "-" and more of the address, up to 64 bytes, before "@") or of its domain
  // ("me@mail.dick.com"). A rejected occurrence still consumes its span.
  std::vector<Match> scan(const NormalizedText& normalized, MatchMode mode) const;

  // The entries, in word_id order.
  const std::vector<WordEntry>& entries() const noexcept { return entries_; }

  // Bytes of heap memory held by the automaton (tables and per-state data).
  std::size_t automaton_bytes() const noexcept;

  // The compiled automaton, and (at Thorough) the entries each of its patterns stands
  // for, for the library's own scanning code.
  const Automaton& automaton() const noexcept;
  const PatternChoices* choices() const noexcept { return choices_.get(); }

 private:
  Matcher(std::vector<WordEntry> entries, std::unique_ptr<Automaton> automaton,
          std::unique_ptr<PatternChoices> choices);

  std::vector<WordEntry> entries_;
  std::unique_ptr<Automaton> automaton_;
  std::unique_ptr<PatternChoices> choices_;
};

}  // namespace tarnwhisk
