// The matcher: compiles the entries' normalised words into one automaton and turns its
// occurrences into hits, applying the word-boundary rule and mapping spans back to the
// caller's text.
#include "tarnwhisk/matcher.hpp"

#include <algorithm>
#include <array>
#include <tuple>

#include "matcher/automaton.hpp"

namespace tarnwhisk {

namespace {

// ASCII letters, digits and "_". Every other byte, including each byte of a non-ASCII
// character, separates words.
constexpr std::array<bool, 256> kWordByte = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  return t;
}();

}  // namespace

Matcher::Matcher(std::vector<WordEntry> entries, std::unique_ptr<Automaton> automaton)
    : entries_(std::move(entries)), automaton_(std::move(automaton)) {}
Matcher::Matcher(Matcher&&) noexcept = default;
Matcher& Matcher::operator=(Matcher&&) noexcept = default;
Matcher::~Matcher() = default;

Result<Matcher> Matcher::create(std::vector<WordEntry> entries, const MatcherOptions& options) {
  std::vector<std::string> patterns;
  patterns.reserve(entries.size());
  for (const WordEntry& e : entries) patterns.push_back(normalize(e.word, NormalizationLevel::Basic).text);
  std::string message;
  auto automaton = Automaton::build(
      patterns, {options.max_patterns, options.max_pattern_len, options.max_states},
      options.prefilter, message);
  if (!automaton) return Error::matcher_build(std::move(message));
  return Matcher(std::move(entries), std::move(automaton));
}

std::size_t Matcher::automaton_bytes() const noexcept {
  return automaton_ ? automaton_->memory_bytes() : 0;
}

std::vector<Match> Matcher::scan(const NormalizedText& normalized, MatchMode mode) const {
  std::vector<Match> out;
  const auto* text = reinterpret_cast<const unsigned char*>(normalized.text.data());
  const std::size_t n = normalized.text.size();
  const bool boundaries = mode == MatchMode::WordBoundary;
  // With one character per byte (every ASCII text) the character index is the byte
  // index, and a span maps without walking the text.
  const SourceRange* const offsets = normalized.offsets.data();
  const bool byte_chars = normalized.offsets.size() == n;
  // Spans are mapped in increasing order within each lane of the automaton's scan.
  constexpr int kLanes = Automaton::kLanes;
  SpanMapper mappers[kLanes] = {SpanMapper(normalized), SpanMapper(normalized),
                                SpanMapper(normalized), SpanMapper(normalized)};
  static_assert(kLanes == 4, "one mapper per lane");
  // Hits of lane k precede those of later lanes in the text but may be found later:
  // they wait here and are moved in behind the hits of lanes before k in batches. The
  // last lane's hits go straight to the end of the result.
  constexpr std::size_t kBatch = 128;
  Match batch[kLanes - 1][kBatch];
  std::size_t batched[kLanes - 1] = {}, placed[kLanes - 1] = {};
  auto place_batch = [&](int lane) {
    std::size_t at = 0;
    for (int k = 0; k <= lane; ++k) at += placed[k];
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), batch[lane], batch[lane] + batched[lane]);
    placed[lane] += batched[lane];
    batched[lane] = 0;
  };
  automaton_->scan(text, n, [&](const Occurrence& occ, int lane) {
    // A rejected occurrence still consumes its span: the automaton has already moved on
    // to its end. Occurrences are never empty.
    const WordEntry& entry = entries_[occ.pattern];
    if (boundaries && !entry.strict &&
        ((occ.start > 0 && kWordByte[text[occ.start - 1]]) || (occ.end < n && kWordByte[text[occ.end]])))
      return;
    std::size_t start, end;
    if (byte_chars) {
      start = offsets[occ.start].start;  // starts never decrease
      end = offsets[occ.start].end;
      for (std::size_t k = occ.start + 1; k < occ.end; ++k) end = std::max(end, offsets[k].end);
    } else {
      std::tie(start, end) = mappers[lane].map(occ.start, occ.end);
    }
    const Match hit{start, end, occ.start, occ.end, occ.pattern, entry.category, entry.severity};
    if (lane == kLanes - 1) {
      out.push_back(hit);
      return;
    }
    batch[lane][batched[lane]++] = hit;
    if (batched[lane] == kBatch) place_batch(lane);
  });
  for (int k = 0; k < kLanes - 1; ++k) place_batch(k);
  return out;
}

}  // namespace tarnwhisk
