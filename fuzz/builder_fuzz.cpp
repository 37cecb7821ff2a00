// Building must take any word list a caller can hand over: empty words, duplicates,
// words that differ only in case, words that normalise to nothing, invalid bytes, long
// shared prefixes. The merged list must be the stable-sorted, duplicate-free list the
// merging rules give, and every word must then be found where it stands alone, reported
// for the first entry of its pattern. Small automaton limits exercise the refusal path.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_set>

#include "fuzz_support.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

namespace {

std::vector<WordEntry> reference_merge(const Case& c) {
  std::vector<WordEntry> out;
  if (c.options.bundled) out = bundled_for(c.options.language);
  out.insert(out.end(), c.words.begin(), c.words.end());
  if (!c.removed.empty()) {
    std::unordered_set<std::string> gone;
    for (const auto& w : c.removed) gone.insert(ascii_lower(w));
    std::erase_if(out, [&](const WordEntry& e) { return gone.contains(ascii_lower(e.word)); });
  }
  std::stable_sort(out.begin(), out.end(), [](const WordEntry& a, const WordEntry& b) { return a.word < b.word; });
  std::vector<WordEntry> kept;
  for (auto& e : out)
    if (kept.empty() || kept.back().word != e.word) kept.push_back(std::move(e));
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Case c = parse(data, size);
  // The text, cut at spaces, adds more words: long lists are cheap to write this way.
  for (std::size_t i = 0; i < c.text.size();) {
    const std::size_t sp = std::min(c.text.find(' ', i), c.text.size());
    c.words.push_back({c.text.substr(i, sp - i), Category::Slang, 4, (sp - i) % 3 == 0});
    i = sp + 1;
  }

  TarnwhiskBuilder builder;
  if (c.options.bundled) builder.language(c.options.language);
  else builder.without_bundled(true);
  builder.add_words(c.words).remove_words(c.removed).allowlist(c.allowlist);
  // Now and then limits small enough to be hit; otherwise the defaults.
  MatcherOptions mo;
  mo.prefilter = c.options.prefilter;
  const bool tight = c.options.scorer;
  if (tight) {
    mo.max_states = 1 + size % 64;
    mo.max_pattern_len = 1 + size % 16;
    mo.max_patterns = 1 + size % 8;
  }
  builder.matcher_options(mo);
  Result<Tarnwhisk> built = builder.build();

  const std::vector<WordEntry> want = reference_merge(c);
  if (!built.ok()) {
    if (want.empty()) {
      TW_CHECK(built.error().kind() == Error::Kind::NoWords, "empty list gave: %s",
               built.error().to_string().c_str());
    } else {
      TW_CHECK(tight && built.error().kind() == Error::Kind::MatcherBuild && !built.error().detail().empty(),
               "%zu words refused: %s", want.size(), built.error().to_string().c_str());
      TW_CHECK(built.error().to_string() == "failed to build matcher automaton: " + built.error().detail(),
               "error text %s", built.error().to_string().c_str());
    }
    return 0;
  }
  TW_CHECK(!want.empty(), "an empty word list was built");
  const Matcher& matcher = built.value().matcher();
  TW_CHECK(matcher.entries() == want, "merged list of %zu entries, rules give %zu", matcher.entries().size(),
           want.size());

  // Each pattern scanned alone, as Substring, is one hit over all of it, for the first
  // entry with that pattern.
  const std::vector<std::string> patterns = patterns_of(want);
  std::map<std::string, std::size_t> first;
  for (std::size_t i = 0; i < patterns.size(); ++i) first.emplace(patterns[i], i);
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (patterns[i].empty() || first[patterns[i]] != i) continue;
    const NormalizedText nt = normalize(patterns[i], NormalizationLevel::None);
    const std::vector<Match> hits = matcher.scan(nt, MatchMode::Substring);
    TW_CHECK(hits.size() == 1 && hits[0].normalized_start == 0 && hits[0].normalized_end == patterns[i].size() &&
                 hits[0].word_id == i,
             "pattern %zu (%zu bytes) scanned alone gives %zu hits, first id %zu", i, patterns[i].size(),
             hits.size(), hits.empty() ? SIZE_MAX : hits[0].word_id);
  }
  return 0;
}
