// Every stage must keep the offset map honest on any input, because the matcher, the
// allowlist and the censor index the caller's text with it. The whole input is the
// source text; the pipeline is run stage by stage with the invariants checked after each
// stage, so that a break names the stage that made it, and then compared with normalize().
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"
#include "normalize/piece_normalizer.hpp"
#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

namespace {

using Stage = NormalizedText (*)(NormalizedText);

struct Named {
  const char* name;
  Stage apply;
};

constexpr Named kStages[] = {
    {"strip_bidi", strip_bidi::apply}, {"nfkc", nfkc::apply},           {"casefold", casefold::apply},
    {"homoglyph", homoglyph::apply},   {"leetspeak", leetspeak::apply}, {"collapse", collapse::apply},
    {"separators", separators::apply},
};

void check_spans(std::string_view source, const NormalizedText& nt, const std::vector<bool>& src_bounds,
                 const std::uint8_t* data, std::size_t size) {
  const std::size_t n = nt.text.size();
  // Every span of a short text; a pseudo-random sample, asked in increasing order of
  // start for the SpanMapper, of a long one.
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  if (n <= 12) {
    for (std::size_t s = 0; s <= n; ++s)
      for (std::size_t e = s; e <= n; ++e) spans.emplace_back(s, e);
  } else {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    std::size_t s = 0;
    for (int k = 0; k < 64 && s <= n; ++k) {
      h = h * 6364136223846793005ull + 1442695040888963407ull;
      const std::size_t len = (h >> 33) % 24;
      spans.emplace_back(s, std::min(n, s + len));
      s += (h >> 20) % 16;
    }
  }
  SpanMapper mapper(nt);
  for (const auto& [s, e] : spans) {
    const auto got = nt.source_span(s, e);
    const auto want = reference_span(nt, s, e);
    TW_CHECK(got == want, "source_span(%zu, %zu) = (%zu, %zu), rule gives (%zu, %zu)", s, e, got.first,
             got.second, want.first, want.second);
    const auto mapped = mapper.map(s, e);
    TW_CHECK(mapped == want, "SpanMapper::map(%zu, %zu) = (%zu, %zu), rule gives (%zu, %zu)", s, e, mapped.first,
             mapped.second, want.first, want.second);
    if (got != std::pair{s, e}) {
      // Only a span with some whole character inside maps to anything but itself, and
      // then into the source, on boundaries.
      TW_CHECK(got.first < got.second && got.second <= source.size() && src_bounds[got.first] &&
                   src_bounds[got.second],
               "source_span(%zu, %zu) = (%zu, %zu), source %zu bytes", s, e, got.first, got.second, source.size());
    }
  }
  // A span over whole characters always has a character inside and maps onto source
  // boundaries.
  const auto nb = boundaries(nt.text);
  for (const auto& [s, e] : spans) {
    if (s >= e || !nb[s] || !nb[e]) continue;
    const auto [a, b] = nt.source_span(s, e);
    TW_CHECK(a < b && b <= source.size() && src_bounds[a] && src_bounds[b],
             "source_span(%zu, %zu) of whole characters = (%zu, %zu), source %zu bytes", s, e, a, b, source.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const std::vector<bool> src_bounds = boundaries(source);
  const bool valid = valid_utf8(source);

  NormalizedText nt = source_copy(source);
  check_offsets(source, nt, src_bounds, "source_copy");
  TW_CHECK(nt.text == source, "level None changed the text");
  const NormalizedText none = normalize(source, NormalizationLevel::None);
  TW_CHECK(none.text == nt.text && none.offsets == nt.offsets, "normalize(None) differs from source_copy");

  NormalizedText basic;
  for (const Named& stage : kStages) {
    nt = stage.apply(std::move(nt));
    check_offsets(source, nt, src_bounds, stage.name);
    if (valid) TW_CHECK(valid_utf8(nt.text), "%s made malformed UTF-8 from valid input", stage.name);
    if (stage.apply == collapse::apply) basic = nt;
  }
  const NormalizedText aggressive = std::move(nt);
  // Ill-formed bytes come out of the pipeline as U+FFFD, one per byte before the collapse.
  TW_CHECK(valid_utf8(basic.text) && valid_utf8(aggressive.text), "normalised text is not well-formed UTF-8");

  const NormalizedText b = normalize(source, NormalizationLevel::Basic);
  TW_CHECK(b == basic, "normalize(Basic) differs from its stages");
  const NormalizedText a = normalize(source, NormalizationLevel::Aggressive);
  TW_CHECK(a == aggressive, "normalize(Aggressive) differs from its stages");

  // The thorough level: its stages one by one (the definition) against the one-pass
  // writer, whole and fed in pieces of a few bytes.
  NormalizedText staged = source_copy(source);
  for (auto apply : {thorough::fold_stage, thorough::join_stage, thorough::collapse_stage}) {
    staged = apply(std::move(staged));
    check_offsets(source, staged, src_bounds, "thorough stage");
  }
  TW_CHECK(valid_utf8(staged.text), "thorough text is not well-formed UTF-8");
  const NormalizedText t = normalize(source, NormalizationLevel::Thorough);
  TW_CHECK(t == staged, "normalize(Thorough) differs from its stages");
  {
    NormalizedText pieces;
    PieceNormalizer writer(NormalizationLevel::Thorough, pieces);
    const std::size_t step = 1 + (size % 7);
    for (std::size_t from = 0; from < source.size();) {
      std::size_t to = std::min(source.size(), from + step);
      while (to < source.size() && !utf8::is_char_boundary(source, to)) ++to;
      writer.feed(source.substr(from, to - from), from);
      from = to;
    }
    writer.finish();
    TW_CHECK(pieces == staged, "the thorough writer in pieces differs from its stages");
  }

  check_spans(source, none, src_bounds, data, size);
  check_spans(source, basic, src_bounds, data, size);
  check_spans(source, aggressive, src_bounds, data, size);
  check_spans(source, staged, src_bounds, data, size);
  return 0;
}
