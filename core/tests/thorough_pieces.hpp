// Test support: the thorough text of a source fed to the piece normaliser in random
// pieces, as the scan feeds it, for comparison with the whole text and the stages.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

#include "normalize/piece_normalizer.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk::test {

// The thorough text of `src` fed in pieces of 1 to `max_piece` bytes (cut at characters),
// with the stable characters taken off the front of the result after every piece, as
// the scan does, and put back together.
inline NormalizedText thorough_in_pieces(const std::string& src, std::mt19937_64& rng, std::size_t max_piece) {
  NormalizedText all, window;
  PieceNormalizer writer(NormalizationLevel::Thorough, window);
  const auto take = [&](std::size_t chars, std::size_t bytes) {
    all.text.append(window.text, 0, bytes);
    all.offsets.insert(all.offsets.end(), window.offsets.begin(), window.offsets.begin() + chars);
    all.flags.insert(all.flags.end(), window.flags.begin(), window.flags.begin() + chars);
    window.text.erase(0, bytes);
    window.offsets.erase(window.offsets.begin(), window.offsets.begin() + chars);
    window.flags.erase(window.flags.begin(), window.flags.begin() + chars);
  };
  for (std::size_t from = 0; from < src.size();) {
    std::size_t to = from;
    for (std::size_t want = 1 + rng() % max_piece; to < src.size() && to - from < want;) to += utf8::char_len(src, to);
    writer.feed(std::string_view(src).substr(from, to - from), from);
    const auto [chars, bytes] = writer.stable();
    take(chars, bytes);
    from = to;
  }
  writer.finish();
  take(window.offsets.size(), window.text.size());
  return all;
}

}  // namespace tarnwhisk::test
