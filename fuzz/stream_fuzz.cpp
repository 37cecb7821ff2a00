// A filter decoded from the input (format in fuzz_support.hpp) runs the text through a
// stream cut into chunks, twice: in chunks of a few bytes, and in chunks up to a size
// the input picks. What has come out after every chunk must be a prefix of find() and
// censor() on the whole text, and all of it at finish() equal to them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string_view>

#include "fuzz_support.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

namespace {

// Reads no further than two bytes from the hit, so that a stream, which shows the
// scorer only the hit's surroundings, must agree with find(), which shows it all.
class NearScorer final : public SemanticScorer {
 public:
  float score(std::string_view text, const Match& hit) const override {
    const std::size_t from = hit.start >= 2 ? hit.start - 2 : 0;
    const std::size_t h = std::hash<std::string_view>()(text.substr(from, hit.end + 2 - from));
    if (h % 11 == 0) return std::nanf("");
    return static_cast<float>(h % 10) / 10.0f;
  }
};

void stream_through(const Tarnwhisk& filter, std::string_view text, const std::vector<Match>& want_hits,
                    const std::string& want_text, std::mt19937& rng, std::size_t limit, const StreamOptions& options) {
  TextStream stream = filter.stream(options);
  TextStream::Output out;
  std::size_t at = 0;
  auto check_prefix = [&] {
    TW_CHECK(out.hits.size() <= want_hits.size() && std::equal(out.hits.begin(), out.hits.end(), want_hits.begin()),
             "after %zu of %zu bytes (chunks up to %zu): %zu hits out, not a prefix of find's %zu", at, text.size(),
             limit, out.hits.size(), want_hits.size());
    if (options.censor)
      TW_CHECK(want_text.compare(0, out.censored.size(), out.censored) == 0,
               "after %zu of %zu bytes (chunks up to %zu): censored text is not a prefix of censor's", at,
               text.size(), limit);
  };
  // No hit may start before the place that an earlier call called settled.
  std::size_t settled = 0;
  auto check_settled = [&](std::size_t first_new) {
    for (std::size_t k = first_new; k < out.hits.size(); ++k)
      TW_CHECK(out.hits[k].start >= settled, "hit at %zu after settled() said %zu", out.hits[k].start, settled);
    TW_CHECK(stream.settled() >= settled && stream.settled() <= at, "settled() went from %zu to %zu at %zu",
             settled, stream.settled(), at);
    settled = stream.settled();
  };
  while (at < text.size()) {
    const std::size_t n = std::min<std::size_t>(text.size() - at, rng() % (limit + 1));
    const std::size_t first_new = out.hits.size();
    stream.feed(text.substr(at, n), out);
    at += n;
    TW_CHECK(stream.consumed() == at, "consumed %zu after feeding %zu", stream.consumed(), at);
    check_prefix();
    check_settled(first_new);
  }
  const std::size_t first_new = out.hits.size();
  stream.finish(out);
  check_settled(first_new);
  TW_CHECK(out.hits == want_hits, "stream gives %zu hits, find %zu (chunks up to %zu)", out.hits.size(),
           want_hits.size(), limit);
  if (options.censor)
    TW_CHECK(out.censored == want_text, "stream censors to %zu bytes, censor to %zu (chunks up to %zu)",
             out.censored.size(), want_text.size(), limit);
  else
    TW_CHECK(out.censored.empty(), "censored text without the censor");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Case c = parse(data, size);
  if (!c.options.bundled && c.words.empty()) return 0;
  // Every level, the thorough one included (bits 1 and 2 of the first byte).
  if (size >= 1) c.options.level = static_cast<NormalizationLevel>((data[0] >> 1) & 3);

  TarnwhiskBuilder builder = builder_for(c);
  if (c.options.scorer) builder.scorer(std::make_shared<NearScorer>());

  Result<Tarnwhisk> built = builder.build();
  if (!built.ok()) return 0;
  const Tarnwhisk& filter = built.value();
  const std::string_view text = c.text;
  const std::vector<Match> want_hits = filter.find(text);
  const std::string want_text = filter.censor(text);

  // The cuts follow from the input, so that a failure replays.
  std::mt19937 rng(static_cast<std::uint32_t>(std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(data), size))));
  const StreamOptions options{.censor = (rng() % 4) != 0, .scorer_context = 2 + rng() % 12};
  stream_through(filter, text, want_hits, want_text, rng, 1 + rng() % 8, options);
  stream_through(filter, text, want_hits, want_text, rng, std::size_t{1} << (rng() % 21), options);
  return 0;
}
