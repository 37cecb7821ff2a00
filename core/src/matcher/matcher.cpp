// The matcher: compiles the entries' normalised words into one automaton and turns its
// occurrences into hits, applying the word-boundary rule and mapping spans back to the
// caller's text.
#include "tarnwhisk/matcher.hpp"

#include <string>

#include "matcher/automaton.hpp"
#include "matcher/scan_stream.hpp"
#include "matcher/thorough_patterns.hpp"

namespace tarnwhisk {

Matcher::Matcher(std::vector<WordEntry> entries, std::unique_ptr<Automaton> automaton,
                 std::unique_ptr<PatternChoices> choices)
    : entries_(std::move(entries)), automaton_(std::move(automaton)), choices_(std::move(choices)) {}
Matcher::Matcher(Matcher&&) noexcept = default;
Matcher& Matcher::operator=(Matcher&&) noexcept = default;
Matcher::~Matcher() = default;

Result<Matcher> Matcher::create(std::vector<WordEntry> entries, const MatcherOptions& options,
                                NormalizationLevel level) {
  const Automaton::Limits limits{options.max_patterns, options.max_pattern_len, options.max_states};
  if (level == NormalizationLevel::Thorough) {
    ThoroughPatterns compiled = thorough_patterns(entries);
    std::string message;
    auto automaton = Automaton::build_sets(compiled.patterns, thorough_accepts(), limits, message);
    if (!automaton) return Error::matcher_build(std::move(message));
    return Matcher(std::move(entries), std::move(automaton),
                   std::make_unique<PatternChoices>(std::move(compiled.choices)));
  }
  std::vector<std::string> patterns;
  patterns.reserve(entries.size());
  for (const WordEntry& e : entries) patterns.push_back(normalize(e.word, NormalizationLevel::Basic).text);
  std::string message;
  auto automaton = Automaton::build(patterns, limits, options.prefilter, message);
  if (!automaton) return Error::matcher_build(std::move(message));
  return Matcher(std::move(entries), std::move(automaton), nullptr);
}

std::size_t Matcher::automaton_bytes() const noexcept {
  return automaton_ ? automaton_->memory_bytes() : 0;
}

std::vector<Match> Matcher::scan(const NormalizedText& normalized, MatchMode mode) const {
  std::vector<Match> out;
  ScanStream(*this, mode).finish(normalized, out);
  return out;
}

const Automaton& Matcher::automaton() const noexcept { return *automaton_; }

}  // namespace tarnwhisk
