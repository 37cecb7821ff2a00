// Builds the start-window filter of prefilter.hpp and decides whether it is worth using.
#include "matcher/prefilter.hpp"

namespace tarnwhisk {

void Prefilter::build(const std::vector<std::string>& patterns) {
  bits_.clear();
  std::vector<std::uint64_t> bits(std::size_t{1} << (kHashBits - 6), 0);
  std::size_t set = 0;
  auto mark = [&](const unsigned char* window) {
    const std::uint32_t h = hash(load(window));
    std::uint64_t& word = bits[h >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (h & 63);
    set += (word & bit) == 0;
    word |= bit;
  };
  // A pattern shorter than the window may be followed by anything: mark every
  // completion of its folded bytes (at most 32^3 for a one-byte pattern).
  bool any = false;
  for (const std::string& p : patterns) {
    if (p.empty()) continue;
    any = true;
    unsigned char window[kWindow] = {};
    const std::size_t known = p.size() < kWindow ? p.size() : kWindow;
    std::memcpy(window, p.data(), known);
    std::uint32_t completions = 1;
    for (std::size_t k = known; k < kWindow; ++k) completions *= 32;
    for (std::uint32_t c = 0; c < completions; ++c) {
      std::uint32_t rest = c;
      for (std::size_t k = known; k < kWindow; ++k, rest /= 32) window[k] = static_cast<unsigned char>(rest % 32);
      mark(window);
    }
  }
  // Every candidate costs a switch into the automaton; when more than one window value
  // in sixteen is a candidate, the automaton alone is faster.
  if (any && set * 16 <= (std::size_t{1} << kHashBits)) bits_ = std::move(bits);
}

}  // namespace tarnwhisk
