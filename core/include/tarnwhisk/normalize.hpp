// Normalised text with its offset map, the normalisation levels and the pipeline driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwhisk {

// How thoroughly input text is normalised before matching.
enum class NormalizationLevel : std::uint8_t {
  None = 0,        // the text as given
  Basic = 1,       // invisible characters, NFKC, case, look-alikes, leetspeak, stretched runs
  Aggressive = 2,  // Basic, then separators between letters are removed
  // Every invisible character, NFKC, case and diacritics in every script, look-alikes
  // from Unicode's confusables, leetspeak (a symbol that may be one of two letters
  // stays a code for both), separators between single letters, runs of any length.
  // Words are compiled from their thorough form and accept what each letter may be
  // written as; masks ("*", "#", "%") inside a word hide one or two of its letters each,
  // up to four for a pair and any number for a longer run; ordinary words are never
  // joined, and a word inside an e-mail address is no hit.
  Thorough = 3,
};

// A half-open byte range [start, end) of the source text.
struct SourceRange {
  std::size_t start;
  std::size_t end;

  bool operator==(const SourceRange&) const = default;
};

// What a normalised character stands for beyond its text: bits of
// NormalizedText::flags.
enum CharFlag : std::uint8_t {
  // Leetspeak made the character of "!", "$" or "@" (which stand for letters inside a
  // word but are punctuation at its edge). Where collapse merged a run into the
  // character, kSymbolFirst tells of the run's first character and kSymbolLast of its
  // last.
  kSymbolFirst = 1,
  kSymbolLast = 2,
  // Thorough only: the character stands for a run of two or more equal characters
  // ("asss" reads "as" with the s doubled), which a word's double letter needs.
  kDoubled = 4,
  // Thorough only: separators between single letters were dropped right before the
  // character ("f u c k" reads "fuck"): a word may start here even after a letter.
  kJoined = 8,
  // Thorough only: the run was three or more long, stretched beyond a double letter
  // ("shiit" doubles its i, which a word's single i does not take; "shiiit" stretches it).
  kStretched = 16,
};

// A normalised text and, for each of its characters (not bytes), the source bytes it
// came from and its flags. Invariants: offsets.size() equals the number of characters
// of `text`; every range is non-empty, lies on character boundaries of the source and
// refers to the source given to normalize(); starts never decrease. `flags` has one
// entry per character at every level but None, where it is empty.
struct NormalizedText {
  std::string text;
  std::vector<SourceRange> offsets;
  std::vector<std::uint8_t> flags;

  bool operator==(const NormalizedText&) const = default;

  // Maps the normalised byte span [start, end) to a source byte span: from the start of
  // the first to the end of the last source range among the characters that lie wholly
  // inside the span. If no character lies wholly inside, returns (start, end) unchanged.
  std::pair<std::size_t, std::size_t> source_span(std::size_t start, std::size_t end) const;
};

// Gives the same answers as NormalizedText::source_span, for spans asked in
// non-decreasing order of `start`, in time proportional to the distance walked since the
// previous question instead of from the beginning of the text. The matcher uses it so
// that mapping all hits of a scan costs one pass over the text.
class SpanMapper {
 public:
  explicit SpanMapper(const NormalizedText& normalized) noexcept : nt_(&normalized) {}
  std::pair<std::size_t, std::size_t> map(std::size_t start, std::size_t end) noexcept;

 private:
  const NormalizedText* nt_;
  std::size_t byte_ = 0;  // a character boundary of nt_->text at or before every later start
  std::size_t index_ = 0;  // the index of the character that begins at byte_
};

// Normalises `text` (UTF-8) at `level`. Never fails; an empty text gives an empty result.
NormalizedText normalize(std::string_view text, NormalizationLevel level);

// The same result as normalize(text, level), written into `out`, whose previous contents
// are replaced and whose buffers keep their capacity. Normalising many texts (or many
// pieces of one) into the same `out` allocates only when a text needs more room than
// any before it. `text` must not refer to out.text.
void normalize_into(std::string_view text, NormalizationLevel level, NormalizedText& out);

}  // namespace tarnwhisk
