// Chooses the start bytes of prefilter.hpp, or leaves the filter off.
#include "matcher/prefilter.hpp"

#include <array>

namespace tarnwhisk {

void Prefilter::build(const std::vector<std::string>& patterns) {
  count_ = 0;
  std::array<bool, 256> seen{};
  unsigned char found[3] = {0, 0, 0};
  unsigned count = 0;
  for (const std::string& p : patterns) {
    if (p.empty()) continue;
    const auto b = static_cast<unsigned char>(p[0]);
    if (seen[b]) continue;
    if (count == 3) return;  // too many start bytes: the automaton alone is faster
    seen[b] = true;
    found[count++] = b;
  }
  if (count == 0) return;
  for (unsigned k = 0; k < 3; ++k) bytes_[k] = found[k < count ? k : 0];
  count_ = count;
}

}  // namespace tarnwhisk
