// The normalisation stages, in pipeline order. Each consumes a NormalizedText and
// returns a new one whose offsets still refer to the original source: entries are only
// copied, repeated, merged or dropped, never translated.
//
// Besides `apply`, the stages that look at one character at a time expose that
// per-character rule, so that the one-pass pipeline (fused.cpp) is built from the very
// same rules as the stages.
#pragma once

#include <compare>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "ascii.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

// Flags follow their characters through the stages: a stage that copies, repeats or
// drops a character's entry does the same with its flag. A merge keeps the bits that
// describe a run's first character from the first and those that describe its last
// character from the last.
inline constexpr std::uint8_t kFirstSideFlags = kSymbolFirst | kJoined;
inline constexpr std::uint8_t kLastSideFlags = kSymbolLast;
inline std::uint8_t merged_flags(std::uint8_t first, std::uint8_t last) noexcept {
  return static_cast<std::uint8_t>((first & kFirstSideFlags) | (last & kLastSideFlags) |
                                   ((first | last) & (kDoubled | kStretched)));
}
// An empty text for a stage to write what it makes of `in` into, with room for as many
// bytes and entries as `in` has (most stages keep or shorten a text).
inline NormalizedText output_for(const NormalizedText& in) {
  NormalizedText out;
  out.text.reserve(in.text.size());
  out.offsets.reserve(in.offsets.size());
  return out;
}
// Calls f(c, k) for each character of `text` as utf8::char_len walks it: its scalar
// value (U+FFFD for a stray byte) and its index.
template <class F>
void for_each_char(std::string_view text, F&& f) {
  for (std::size_t i = 0, k = 0; i < text.size(); ++k) {
    const std::size_t len = utf8::char_len(text, i);
    f(utf8::decode(text, i, len), k);
    i += len;
  }
}
// Appends entry k of `in`, with its flag when `in` has flags, to `out`.
inline void copy_entry(const NormalizedText& in, std::size_t k, NormalizedText& out) {
  out.offsets.push_back(in.offsets[k]);
  if (!in.flags.empty()) out.flags.push_back(in.flags[k]);
}

namespace strip_bidi {
NormalizedText apply(NormalizedText in);
// True for the invisible and direction-control characters the stage deletes.
bool removes(char32_t c) noexcept;
}  // namespace strip_bidi

namespace nfkc {
NormalizedText apply(NormalizedText in);
// The NFKC form of the one character c, when it differs from c.
struct Form {
  const char32_t* chars = nullptr;
  std::uint8_t len = 0;    // characters in the form; 0 when c is its own form
  std::uint8_t bytes = 0;  // UTF-8 bytes of the form
};
Form form(char32_t c) noexcept;
}  // namespace nfkc

namespace casefold {
NormalizedText apply(NormalizedText in);
// A to Z become a to z; every other character is returned as it is.
inline constexpr char32_t fold(char32_t c) noexcept { return ascii::lower(c); }
}  // namespace casefold

namespace homoglyph {
NormalizedText apply(NormalizedText in);
// The ASCII letter a look-alike stands for, or c itself.
char32_t fold(char32_t c) noexcept;
}  // namespace homoglyph

namespace leetspeak {
// The symbols "!", "$" and "@" (ascii::is_symbol) are folded everywhere too (to catch
// "sh!t", "$hit"), but flagged: at the edge of a word they are usually punctuation
// ("shit!"), which the whole-word test knows.
NormalizedText apply(NormalizedText in);
// The letter a digit or symbol stands for, or c itself (the table is ascii.hpp's).
inline constexpr char32_t fold(char32_t c) noexcept { return ascii::leet(c); }
}  // namespace leetspeak

namespace collapse {
NormalizedText apply(NormalizedText in);
// Runs this long or longer become one character.
inline constexpr std::size_t kMinRun = 3;
}  // namespace collapse

namespace separators {
// Deletes each run of separators (ascii::is_separator) that stands between two ASCII
// letters (ascii::is_letter), the only letters separators may stand between.
NormalizedText apply(NormalizedText in);
}  // namespace separators

// The entries (k, k + 1) for k = i, i + 1, ..., as a random-access iterator, so that
// vector::insert makes the entries of a run of one-byte characters in place.
struct IdentityEntries {
  using iterator_category = std::random_access_iterator_tag;
  using value_type = SourceRange;
  using difference_type = std::ptrdiff_t;
  using pointer = const SourceRange*;
  using reference = SourceRange;

  std::size_t k;

  SourceRange operator*() const noexcept { return {k, k + 1}; }
  SourceRange operator[](difference_type d) const noexcept { return *(*this + d); }
  IdentityEntries& operator++() noexcept { ++k; return *this; }
  IdentityEntries operator++(int) noexcept { return {k++}; }
  IdentityEntries& operator--() noexcept { --k; return *this; }
  IdentityEntries operator--(int) noexcept { return {k--}; }
  IdentityEntries& operator+=(difference_type d) noexcept { k += static_cast<std::size_t>(d); return *this; }
  IdentityEntries& operator-=(difference_type d) noexcept { k -= static_cast<std::size_t>(d); return *this; }
  friend IdentityEntries operator+(IdentityEntries a, difference_type d) noexcept { return a += d; }
  friend IdentityEntries operator+(difference_type d, IdentityEntries a) noexcept { return a += d; }
  friend IdentityEntries operator-(IdentityEntries a, difference_type d) noexcept { return a -= d; }
  friend difference_type operator-(IdentityEntries a, IdentityEntries b) noexcept {
    return static_cast<difference_type>(a.k - b.k);
  }
  friend auto operator<=>(IdentityEntries a, IdentityEntries b) noexcept = default;
};

// The index of the first byte >= 0x80 at or after i, or s.size().
inline std::size_t skip_ascii(std::string_view s, std::size_t i) noexcept {
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// The level-None text: a copy of `text` with one entry per source character.
NormalizedText source_copy(std::string_view text);
void source_copy_into(std::string_view text, NormalizedText& out);
// Appends the level-None text of `text`, a piece of a source that starts at source byte
// `base`, to `out`.
void source_copy_append(std::string_view text, std::size_t base, NormalizedText& out);

// The pipeline run one stage after another, each stage a separate pass. It defines what
// normalize() returns; normalize() computes the same in one pass (fused_pipeline_into).
NormalizedText normalize_by_stages(std::string_view text, NormalizationLevel level);

// strip_bidi, nfkc, casefold, homoglyph, leetspeak and collapse, and then separators if
// `aggressive`, in one pass over `text`, replacing the contents of `out` and keeping
// the capacity of its buffers.
void fused_pipeline_into(std::string_view text, bool aggressive, NormalizedText& out);

}  // namespace tarnwhisk
