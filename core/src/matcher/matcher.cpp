// (placeholder: a naive search until the automaton is written)
#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

class Automaton {
 public:
  std::vector<std::string> patterns;
};

Matcher::Matcher(std::vector<WordEntry> entries, std::unique_ptr<Automaton> automaton)
    : entries_(std::move(entries)), automaton_(std::move(automaton)) {}
Matcher::Matcher(Matcher&&) noexcept = default;
Matcher& Matcher::operator=(Matcher&&) noexcept = default;
Matcher::~Matcher() = default;

Result<Matcher> Matcher::create(std::vector<WordEntry> entries, const MatcherOptions&) {
  auto a = std::make_unique<Automaton>();
  for (const auto& e : entries) a->patterns.push_back(normalize(e.word, NormalizationLevel::Basic).text);
  return Matcher(std::move(entries), std::move(a));
}

std::size_t Matcher::automaton_bytes() const noexcept { return 0; }

static bool is_word_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::vector<Match> Matcher::scan(const NormalizedText& nt, MatchMode mode) const {
  std::vector<Match> out;
  const std::string& t = nt.text;
  const auto& pats = automaton_->patterns;
  SpanMapper mapper(nt);
  std::size_t p = 0;
  while (p < t.size()) {
    std::size_t best = SIZE_MAX, best_len = 0, s = p;
    for (; s < t.size(); ++s) {
      for (std::size_t i = 0; i < pats.size(); ++i) {
        const auto& pat = pats[i];
        if (pat.empty() || pat.size() + s > t.size()) continue;
        if (t.compare(s, pat.size(), pat) == 0 && (best == SIZE_MAX || pat.size() > best_len)) {
          best = i;
          best_len = pat.size();
        }
      }
      if (best != SIZE_MAX) break;
    }
    if (best == SIZE_MAX) break;
    const std::size_t e = s + best_len;
    p = e;
    const WordEntry& entry = entries_[best];
    if (mode == MatchMode::WordBoundary && !entry.strict) {
      if ((s > 0 && is_word_byte(t[s - 1])) || (e < t.size() && is_word_byte(t[e]))) continue;
    }
    auto [a, b] = mapper.map(s, e);
    out.push_back({a, b, s, e, best, entry.category, entry.severity});
  }
  return out;
}

}  // namespace tarnwhisk
