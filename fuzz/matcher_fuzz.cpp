// The automaton is the most intricate code of the core; a naive search that follows the
// matching rules word for word is its judge. Words and text come from the input (format
// in fuzz_support.hpp); the text is normalised at the chosen level and scanned in the
// chosen mode, with the prefilter on and off, and every hit must equal the reference's.
#include <cstddef>
#include <cstdint>

#include <algorithm>

#include "fuzz_support.hpp"
#include "reference/naive_thorough.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

namespace {

std::string describe(const std::vector<Match>& hits) {
  std::string s;
  for (const Match& m : hits) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "[%zu,%zu n%zu,%zu id%zu] ", m.start, m.end, m.normalized_start,
                  m.normalized_end, m.word_id);
    s += buf;
  }
  return s.empty() ? "none" : s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Case c = parse(data, size);
  if (c.words.empty()) return 0;
  // Allowlist and removal segments are words too here: more patterns, same format.
  for (auto& w : c.allowlist) c.words.push_back({w, Category::Mild, 1, false});
  for (auto& w : c.removed) c.words.push_back({w, Category::Mild, 1, true});

  MatcherOptions options;
  options.prefilter = c.options.prefilter;
  if (c.options.level == NormalizationLevel::Thorough) {
    // Words compiled from their thorough forms, against the naive reading of that level.
    std::sort(c.words.begin(), c.words.end(), [](const WordEntry& a, const WordEntry& b) { return a.word < b.word; });
    Result<Matcher> built = Matcher::create(c.words, options, NormalizationLevel::Thorough);
    TW_CHECK(built.ok(), "a small word list was refused: %s", built.error().to_string().c_str());
    const NormalizedText nt = normalize(c.text, NormalizationLevel::Thorough);
    const std::vector<Match> want = reference::naive_thorough_scan(c.words, nt, c.options.mode);
    const std::vector<Match> got = built.value().scan(nt, c.options.mode);
    TW_CHECK(got == want, "thorough scan gives %s, reference %s", describe(got).c_str(), describe(want).c_str());
    return 0;
  }
  const std::vector<std::string> patterns = patterns_of(c.words);
  Result<Matcher> built = Matcher::create(c.words, options);
  TW_CHECK(built.ok(), "a small word list was refused: %s", built.error().to_string().c_str());
  const Matcher& matcher = built.value();
  TW_CHECK(matcher.entries() == c.words, "the matcher changed its entries");

  const NormalizedText nt = normalize(c.text, c.options.level);
  const std::vector<Match> want = reference::naive_scan(patterns, c.words, nt, c.options.mode);
  const std::vector<Match> got = matcher.scan(nt, c.options.mode);
  TW_CHECK(got == want, "scan gives %s, reference %s", describe(got).c_str(), describe(want).c_str());

  // The prefilter changes speed only.
  options.prefilter = !options.prefilter;
  Result<Matcher> other = Matcher::create(c.words, options);
  TW_CHECK(other.ok(), "refused with the prefilter %s", options.prefilter ? "on" : "off");
  const std::vector<Match> got2 = other.value().scan(nt, c.options.mode);
  TW_CHECK(got2 == want, "scan with prefilter %s gives %s, reference %s", options.prefilter ? "on" : "off",
           describe(got2).c_str(), describe(want).c_str());

  // The same text unnormalised (raw bytes, invalid UTF-8 included) as a level-None text.
  const NormalizedText raw = normalize(c.text, NormalizationLevel::None);
  TW_CHECK(matcher.scan(raw, MatchMode::Substring) == reference::naive_scan(patterns, c.words, raw, MatchMode::Substring),
           "substring scan of the raw text differs");
  return 0;
}
