// Skips text where no pattern can start. The automaton must read every byte of a word
// list's worth of prose (nearly every letter starts some pattern), but few positions
// begin the first four bytes of one; this filter finds those positions with independent
// per-position tests, which run several times faster than the automaton's chain of
// dependent loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwhisk {

class Prefilter {
 public:
  // Prepares the filter for `patterns` (empty ones are ignored). It stays inactive when
  // the patterns are too short or too varied for skipping to pay.
  void build(const std::vector<std::string>& patterns);

  bool active() const noexcept { return !bits_.empty(); }

  // The first position at or after `i` where an occurrence may start. Never passes a
  // real occurrence; may stop where there is none. Positions too close to the end for a
  // full window are always candidates. Only valid when active().
  std::size_t next(const unsigned char* text, std::size_t n, std::size_t i) const noexcept {
    if (n < kWindow) return i;
    const std::size_t last = n - kWindow;
    const std::uint64_t* const bits = bits_.data();
    for (; i <= last; ++i) {
      const std::uint32_t h = hash(load(text + i));
      if ((bits[h >> 6] >> (h & 63)) & 1) return i;
    }
    return i;
  }

  std::size_t memory_bytes() const noexcept { return bits_.capacity() * sizeof(std::uint64_t); }

 private:
  static constexpr std::size_t kWindow = 4;
  static constexpr unsigned kHashBits = 16;
  // Keeping five bits of each byte folds case and maps every byte to 32 values, so a
  // pattern shorter than the window needs few completions; collisions only add
  // candidates.
  static constexpr std::uint32_t kFold = 0x1F1F1F1Fu;

  static std::uint32_t load(const unsigned char* p) noexcept {
    std::uint32_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
  }
  static std::uint32_t hash(std::uint32_t window) noexcept {
    return ((window & kFold) * 0x9E3779B1u) >> (32 - kHashBits);
  }

  std::vector<std::uint64_t> bits_;  // one bit per hash value: some pattern starts so
};

}  // namespace tarnwhisk
