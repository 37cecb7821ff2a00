// The whole road a caller takes: build a filter from options and words decoded from the
// input (format in fuzz_support.hpp), then find, contains_profanity and censor on the
// text. Hits must be spans of the caller's text on character boundaries, ordered, with
// the allowlist and the scorer applied exactly; the censored text must be what the
// masking rules give, valid UTF-8 for valid input, and keep the character count under
// the length-preserving styles.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

namespace {

// A deterministic scorer that keeps some hits, drops others and answers NaN now and then.
class PseudoScorer final : public SemanticScorer {
 public:
  float score(std::string_view text, const Match& hit) const override {
    const std::size_t h = hit.start * 31 + hit.end * 7 + text.size();
    if (h % 11 == 0) return std::nanf("");
    return static_cast<float>(h % 10) / 10.0f;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Case c = parse(data, size);
  if (!c.options.bundled && c.words.empty()) return 0;

  TarnwhiskBuilder builder = builder_for(c);
  const auto scorer = std::make_shared<PseudoScorer>();
  if (c.options.scorer) builder.scorer(scorer).scorer_threshold(0.5f);
  if (c.options.piece_bytes) builder.piece_bytes(c.options.piece_bytes);

  Result<Tarnwhisk> built = builder.build();
  if (!built.ok()) {
    TW_CHECK(built.error().kind() == Error::Kind::NoWords, "unexpected build error: %s",
             built.error().to_string().c_str());
    return 0;
  }
  const Tarnwhisk& filter = built.value();
  const std::string_view text = c.text;
  const auto& entries = filter.matcher().entries();

  // Ill-formed bytes are characters of their own, and patterns are normalised (so
  // well-formed) whatever the words were: hits on ill-formed text obey the same rules.
  const bool valid = valid_utf8(text);

  const std::vector<Match> hits = filter.find(text);

  // The road, rebuilt from the parts with the reference allowlist and scorer, over the
  // whole text (the filter may cut a long one into pieces: never with another result).
  const NormalizedText nt = normalize(text, c.options.level);
  std::vector<Match> want = filter.matcher().scan(nt, c.options.mode);
  want = reference::literal_filter(filter.allowlist().terms(), text, std::move(want));
  if (c.options.scorer) std::erase_if(want, [&](const Match& m) { return !(scorer->score(text, m) >= 0.5f); });
  TW_CHECK(hits == want, "find gives %zu hits, the road rebuilt gives %zu", hits.size(), want.size());
  TW_CHECK(filter.contains_profanity(text) == !hits.empty(), "contains_profanity disagrees with find");

  const std::vector<bool> bounds = boundaries(text);
  std::size_t prev_start = 0, prev_nend = 0;
  for (std::size_t k = 0; k < hits.size(); ++k) {
    const Match& m = hits[k];
    TW_CHECK(m.word_id < entries.size(), "word_id %zu of %zu entries", m.word_id, entries.size());
    TW_CHECK(m.category == entries[m.word_id].category && m.severity == entries[m.word_id].severity,
             "hit %zu reports another entry's category or severity", k);
    TW_CHECK(m.normalized_start < m.normalized_end && m.normalized_end <= nt.text.size(),
             "hit %zu normalised span (%zu, %zu) of %zu bytes", k, m.normalized_start, m.normalized_end,
             nt.text.size());
    TW_CHECK(k == 0 || m.normalized_start >= prev_nend, "hit %zu overlaps the one before in the normalised text", k);
    TW_CHECK(m.start < m.end && m.end <= text.size() && bounds[m.start] && bounds[m.end],
             "hit %zu (%zu, %zu) is not a span of whole characters of the %zu-byte text%s", k, m.start, m.end,
             text.size(), valid ? "" : " (invalid UTF-8)");
    TW_CHECK(m.start >= prev_start, "hit %zu starts at %zu before %zu", k, m.start, prev_start);
    prev_start = m.start;
    prev_nend = m.normalized_end;
  }

  // The text cut into many short ones (at every newline, and every 37 bytes where there
  // is none): searched side by side, each must give what it gives alone.
  {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0; from < text.size();) {
      std::size_t to = text.find('\n', from);
      to = to == std::string_view::npos ? std::min(text.size(), from + 37) : std::min(to, from + 37);
      parts.push_back(text.substr(from, to - from));
      from = to == from ? to + 1 : to;
    }
    std::size_t next = 0;
    const bool done = filter.find_each(parts, Poll(), [&](std::size_t i, std::vector<Match>& each) {
      TW_CHECK(i == next++, "find_each visits text %zu out of order", i);
      TW_CHECK(each == filter.find(parts[i]), "find_each differs from find on text %zu of %zu", i, parts.size());
    });
    TW_CHECK(done && next == parts.size(), "find_each stopped after %zu of %zu texts", next, parts.size());
  }

  const std::string out = filter.censor(text);
  {
    const std::string ref = reference_censor(text, hits, c.options.style, c.options.mask);
    TW_CHECK(out == ref, "censor gives %zu bytes, the masking rules %zu", out.size(), ref.size());
    if (c.options.style != CensorStyle::FullMask)
      TW_CHECK(utf8::count_chars(out) == utf8::count_chars(text), "censor changed the character count %zu -> %zu",
               utf8::count_chars(text), utf8::count_chars(out));
  }
  if (valid) TW_CHECK(valid_utf8(out), "censor made malformed UTF-8 from valid input");
  return 0;
}
