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
#include "normalize/stages.hpp"
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

// The letters that leetspeak makes of its symbols: a neighbour of a hit that is one of
// these may be a symbol at the edge of a word ("shit!" is scanned as "shiti").
const std::array<bool, 256> kSymbolLetter = [] {
  std::array<bool, 256> t{};
  for (char32_t c : {U'!', U'$', U'@'}) t[leetspeak::fold(c)] = true;
  return t;
}();

// The whole-word test for a neighbour that is a word byte: leetspeak folds "!", "$" and
// "@" wherever they stand, but at the edge of a word they are punctuation ("shit!",
// "@hell"), so such a neighbour does not join the hit to a word. A run of them with a
// word byte behind it stays letters ("hell@example.com"). Where collapse merged several
// source characters into the neighbour, the one next to the hit decides: the flags
// kSymbolFirst and kSymbolLast tell of the two ends.
class SymbolEdges {
 public:
  explicit SymbolEdges(const NormalizedText& normalized) noexcept
      : text_(normalized.text), flags_(normalized.flags), char_per_byte_(normalized.offsets.size() == text_.size()) {}

  // Whether the neighbour at byte `at`, just after a hit, is punctuation.
  bool after(std::size_t at) noexcept {
    if (flags_.empty()) return false;
    std::size_t k = index_of(at);
    std::size_t b = at;
    while (b < text_.size() && kSymbolLetter[byte(b)] && (flags_[k] & kSymbolFirst)) {
      ++b;  // the symbols' letters are ASCII: one byte, one character
      ++k;
    }
    return b != at && (b == text_.size() || !kWordByte[byte(b)]);
  }

  // Whether the neighbour at byte `at - 1`, just before a hit, is punctuation.
  bool before(std::size_t at) noexcept {
    if (flags_.empty()) return false;
    std::size_t k = index_of(at - 1);
    std::size_t b = at;  // one past the character looked at
    while (b > 0 && kSymbolLetter[byte(b - 1)] && (flags_[k] & kSymbolLast)) {
      --b;
      if (k-- == 0) break;
    }
    return b != at && (b == 0 || !kWordByte[byte(b - 1)]);
  }

 private:
  unsigned char byte(std::size_t b) const noexcept { return static_cast<unsigned char>(text_[b]); }

  // The index of the character that starts at byte `at` (an ASCII byte). Asked in
  // increasing order but for one character back (the left neighbour of a hit that
  // starts where the previous one ended), so a cursor walks the text once.
  std::size_t index_of(std::size_t at) noexcept {
    if (char_per_byte_) return at;
    if (at < byte_) {
      if (at == back_byte_) return back_index_;
      byte_ = index_ = 0;
    }
    while (byte_ < at) {
      back_byte_ = byte_;
      back_index_ = index_;
      byte_ += utf8::char_len(text_, byte_);
      ++index_;
    }
    return index_;
  }

  std::string_view text_;
  const std::vector<std::uint8_t>& flags_;
  bool char_per_byte_;
  std::size_t byte_ = 0;  // a character boundary, and the index of its character
  std::size_t index_ = 0;
  std::size_t back_byte_ = 0;  // the character before byte_, once the cursor has moved
  std::size_t back_index_ = 0;
};

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
  // Occurrences whose word-byte neighbours may be symbols at a word's edge wait for the
  // source to decide (rare: it takes such a letter beside an occurrence). Kept as the
  // lane and the position in that lane's list.
  std::vector<std::pair<int, std::size_t>> undecided;
  automaton_->scan(text, n, [&](const Occurrence& occ, int lane) {
    // A rejected occurrence still consumes its span: the automaton has already moved on
    // to its end. Occurrences are never empty.
    const WordEntry& entry = entries_[occ.pattern];
    std::vector<Match>& hits = lane == 0 ? out : later[lane - 1];
    if (boundaries && !entry.strict) {
      const bool left = occ.start > 0 && kWordByte[text[occ.start - 1]];
      const bool right = occ.end < n && kWordByte[text[occ.end]];
      if (left || right) {
        if ((left && !kSymbolLetter[text[occ.start - 1]]) || (right && !kSymbolLetter[text[occ.end]])) return;
        undecided.emplace_back(lane, hits.size());
      }
    }
    // Spans are mapped below: the offsets are many times larger than the table, and
    // reading them here would stall the lanes on cache misses.
    hits.push_back({occ.start, occ.end, occ.start, occ.end, occ.pattern, entry.category, entry.severity});
  });
  std::size_t total = out.size();
  std::size_t lane_base[kLanes] = {0};
  for (int k = 0; k + 1 < kLanes; ++k) {
    lane_base[k + 1] = total;
    total += later[k].size();
  }
  out.reserve(total);
  for (const auto& hits : later) out.insert(out.end(), hits.begin(), hits.end());
  if (!undecided.empty()) {
    std::vector<std::size_t> at;
    at.reserve(undecided.size());
    for (const auto& [lane, index] : undecided) at.push_back(lane_base[lane] + index);
    std::sort(at.begin(), at.end());
    SymbolEdges edges(normalized);
    std::size_t kept = at.front();
    for (std::size_t i = at.front(), u = 0; i < out.size(); ++i) {
      if (u < at.size() && at[u] == i) {
        ++u;
        const Match& hit = out[i];
        const bool left_ok = hit.normalized_start == 0 || !kWordByte[text[hit.normalized_start - 1]] ||
                             edges.before(hit.normalized_start);
        const bool right_ok = hit.normalized_end == n || !kWordByte[text[hit.normalized_end]] ||
                              edges.after(hit.normalized_end);
        if (!left_ok || !right_ok) continue;
      }
      out[kept++] = out[i];
    }
    out.resize(kept);
  }
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
