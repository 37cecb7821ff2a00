// (placeholder: the literal search until the indexed one is written)
#include "tarnwhisk/allowlist.hpp"

#include "utf8.hpp"

namespace tarnwhisk {

class TermIndex {};

Allowlist::Allowlist(std::vector<std::string> terms) : terms_(std::move(terms)) {
  for (auto& t : terms_) t = ascii_lower(t);
}
Allowlist::Allowlist(Allowlist&&) noexcept = default;
Allowlist& Allowlist::operator=(Allowlist&&) noexcept = default;
Allowlist::~Allowlist() = default;

bool Allowlist::covers(std::string_view lowered, std::size_t start, std::size_t end) const {
  for (const auto& term : terms_) {
    std::size_t f = 0;
    while (true) {
      const std::size_t q = lowered.find(term, f);
      if (q == std::string_view::npos) break;
      if (q < end && start < q + term.size()) return true;
      if (q >= lowered.size()) break;
      f = q + utf8::char_len(lowered, q);
    }
  }
  return false;
}

std::vector<Match> Allowlist::filter(std::string_view text, std::vector<Match> hits) const {
  if (terms_.empty()) return hits;
  const std::string lowered = ascii_lower(text);
  std::erase_if(hits, [&](const Match& m) { return covers(lowered, m.start, m.end); });
  return hits;
}

}  // namespace tarnwhisk
