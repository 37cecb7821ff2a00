// The pipeline driver (stage by stage, and the fast one-pass form), and the mapping of
// normalised spans back to the source.
#include "tarnwhisk/normalize.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

void source_copy_append(std::string_view text, std::size_t base, NormalizedText& out) {
  out.text.append(text);
  out.offsets.reserve(out.offsets.size() + text.size());
  // Taken in chunks of 256 bytes, so that the choice between the two loops is made
  // rarely and the same way many times over: a stretch of chunks that are all ASCII
  // (one character a byte) has its entries made in one go.
  constexpr std::size_t kChunk = 256;
  const auto ascii_chunk = [&](std::size_t i) {
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < kChunk; k += 8) {
      std::uint64_t w;
      std::memcpy(&w, text.data() + i + k, 8);
      any |= w;
    }
    return (any & 0x8080808080808080ull) == 0;
  };
  for (std::size_t i = 0; i < text.size();) {
    std::size_t j = i;
    while (j + kChunk <= text.size() && ascii_chunk(j)) j += kChunk;
    if (j != i) {
      out.offsets.insert(out.offsets.end(), IdentityEntries{base + i}, IdentityEntries{base + j});
      i = j;
      continue;
    }
    for (const std::size_t stop = std::min(text.size(), i + kChunk); i < stop;) {
      const std::size_t len = utf8::char_len(text, i);
      out.offsets.push_back({base + i, base + i + len});
      i += len;
    }
  }
}

void source_copy_into(std::string_view text, NormalizedText& out) {
  out.text.clear();
  out.offsets.clear();
  out.flags.clear();
  source_copy_append(text, 0, out);
}

NormalizedText source_copy(std::string_view text) {
  NormalizedText out;
  source_copy_into(text, out);
  return out;
}

NormalizedText normalize_by_stages(std::string_view text, NormalizationLevel level) {
  NormalizedText nt = source_copy(text);
  if (level == NormalizationLevel::None) return nt;
  if (level == NormalizationLevel::Thorough)
    return thorough::collapse_stage(thorough::join_stage(thorough::fold_stage(std::move(nt))));
  nt = strip_bidi::apply(std::move(nt));
  nt = nfkc::apply(std::move(nt));
  nt = casefold::apply(std::move(nt));
  nt = homoglyph::apply(std::move(nt));
  nt = leetspeak::apply(std::move(nt));
  nt = collapse::apply(std::move(nt));
  if (level == NormalizationLevel::Aggressive) nt = separators::apply(std::move(nt));
  return nt;
}

NormalizedText normalize(std::string_view text, NormalizationLevel level) {
  NormalizedText out;
  normalize_into(text, level, out);
  return out;
}

void normalize_into(std::string_view text, NormalizationLevel level, NormalizedText& out) {
  // The same result as normalize_by_stages, in one pass.
  if (level == NormalizationLevel::None) {
    source_copy_into(text, out);
  } else if (level == NormalizationLevel::Thorough) {
    out.text.clear();
    out.offsets.clear();
    out.flags.clear();
    thorough::Writer writer(out);
    writer.feed(text, 0);
    writer.finish();
  } else {
    fused_pipeline_into(text, level == NormalizationLevel::Aggressive, out);
  }
}

namespace {

// Walks the characters from (byte, index) and applies the span rule: the characters that
// lie wholly inside [start, end) give the source span; the walk stops at the first
// character that reaches `end`.
std::pair<std::size_t, std::size_t> span_from(const NormalizedText& nt, std::size_t byte,
                                              std::size_t index, std::size_t start,
                                              std::size_t end) {
  std::size_t lo = std::numeric_limits<std::size_t>::max();
  std::size_t hi = 0;
  bool found = false;
  const std::string_view t = nt.text;
  while (byte < t.size() && index < nt.offsets.size()) {
    const std::size_t ce = byte + utf8::char_len(t, byte);
    if (byte >= start && ce <= end) {
      lo = std::min(lo, nt.offsets[index].start);
      hi = std::max(hi, nt.offsets[index].end);
      found = true;
    }
    if (ce >= end) break;
    byte = ce;
    ++index;
  }
  return found ? std::pair{lo, hi} : std::pair{start, end};
}

}  // namespace

std::pair<std::size_t, std::size_t> NormalizedText::source_span(std::size_t start,
                                                                std::size_t end) const {
  if (text.empty()) return {start, end};
  return span_from(*this, 0, 0, start, end);
}

std::pair<std::size_t, std::size_t> SpanMapper::map(std::size_t start, std::size_t end) noexcept {
  const NormalizedText& nt = *nt_;
  if (nt.text.empty() || start >= end) return {start, end};
  if (start < byte_) byte_ = index_ = 0;  // asked out of order: walk again from the start
  const std::string_view t = nt.text;
  // Skip the characters that end at or before `start`: no later span can contain them.
  // In mostly-ASCII text with a few multi-byte characters this walk is most of the cost
  // of mapping, so runs of ASCII (a character a byte) go eight bytes at a time.
  for (;;) {
    if (byte_ + 8 <= start) {
      std::uint64_t word;
      std::memcpy(&word, t.data() + byte_, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        byte_ += 8;
        index_ += 8;
        continue;
      }
    }
    if (byte_ >= t.size()) break;
    const std::size_t len = utf8::char_len(t, byte_);
    if (byte_ + len > start) break;
    byte_ += len;
    ++index_;
  }
  return span_from(nt, byte_, index_, start, end);
}

}  // namespace tarnwhisk
