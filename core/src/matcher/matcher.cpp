// The matcher: compiles the entries' normalised words into one automaton and turns its
// occurrences into hits, applying the word-boundary rule and mapping spans back to the
// caller's text.
#include "tarnwhisk/matcher.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <tuple>

#include "matcher/automaton.hpp"
#include "utf8.hpp"

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

// Gives the answers of SpanMapper (the same walk, character by character, for spans
// asked in increasing order of start), but skips runs of ASCII eight bytes at a time:
// in mostly-ASCII text with a few multi-byte characters, walking from one hit to the
// next is most of the cost of mapping.
class AsciiSkippingMapper {
 public:
  explicit AsciiSkippingMapper(const NormalizedText& normalized) noexcept
      : text_(normalized.text), offsets_(normalized.offsets) {}

  std::pair<std::size_t, std::size_t> map(std::size_t start, std::size_t end) noexcept {
    if (text_.empty() || start >= end) return {start, end};
    if (start < byte_) byte_ = index_ = 0;
    // Skip the characters that end at or before `start`. An ASCII byte is a character
    // of its own.
    for (;;) {
      if (byte_ + 8 <= start) {
        std::uint64_t word;
        std::memcpy(&word, text_.data() + byte_, 8);
        if ((word & 0x8080808080808080ull) == 0) {
          byte_ += 8;
          index_ += 8;
          continue;
        }
      }
      if (byte_ >= text_.size()) break;
      const std::size_t len = utf8::char_len(text_, byte_);
      if (byte_ + len > start) break;
      byte_ += len;
      ++index_;
    }
    // The characters that lie wholly inside [start, end) give the span; the walk stops
    // at the first character that reaches `end`.
    std::size_t lo = std::numeric_limits<std::size_t>::max();
    std::size_t hi = 0;
    bool found = false;
    for (std::size_t byte = byte_, index = index_; byte < text_.size() && index < offsets_.size(); ++index) {
      const std::size_t char_end = byte + utf8::char_len(text_, byte);
      if (byte >= start && char_end <= end) {
        lo = std::min(lo, offsets_[index].start);
        hi = std::max(hi, offsets_[index].end);
        found = true;
      }
      if (char_end >= end) break;
      byte = char_end;
    }
    return found ? std::pair{lo, hi} : std::pair{start, end};
  }

 private:
  std::string_view text_;
  const std::vector<SourceRange>& offsets_;
  std::size_t byte_ = 0;   // a character boundary at or before every later start
  std::size_t index_ = 0;  // the index of the character that begins at byte_
};

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
  constexpr int kLanes = Automaton::kLanes;
  // Lanes report concurrently, each in order, and lie in text order: the first lane's
  // hits go straight to `out`, the others' wait beside it and are appended at the end.
  // Sorting one interleaved vector instead moved every hit several times.
  std::vector<Match> later[kLanes - 1];
  automaton_->scan(text, n, [&](const Occurrence& occ, int lane) {
    // A rejected occurrence still consumes its span: the automaton has already moved on
    // to its end. Occurrences are never empty.
    const WordEntry& entry = entries_[occ.pattern];
    if (boundaries && !entry.strict &&
        ((occ.start > 0 && kWordByte[text[occ.start - 1]]) || (occ.end < n && kWordByte[text[occ.end]])))
      return;
    // Spans are mapped below: the offsets are many times larger than the table, and
    // reading them here would stall the lanes on cache misses.
    (lane == 0 ? out : later[lane - 1])
        .push_back({occ.start, occ.end, occ.start, occ.end, occ.pattern, entry.category, entry.severity});
  });
  std::size_t total = out.size();
  for (const auto& hits : later) total += hits.size();
  out.reserve(total);
  for (const auto& hits : later) out.insert(out.end(), hits.begin(), hits.end());
  if (byte_chars) {
    for (Match& hit : out) {
      hit.start = offsets[hit.normalized_start].start;  // starts never decrease
      hit.end = offsets[hit.normalized_start].end;
      for (std::size_t k = hit.normalized_start + 1; k < hit.normalized_end; ++k)
        hit.end = std::max(hit.end, offsets[k].end);
    }
  } else {
    // In text order, one mapper walks the text once for all hits.
    AsciiSkippingMapper mapper(normalized);
    for (Match& hit : out) std::tie(hit.start, hit.end) = mapper.map(hit.normalized_start, hit.normalized_end);
  }
  return out;
}

}  // namespace tarnwhisk
