// Normalisation of a text that arrives in pieces.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {

// Normalises a source given piece by piece, appending to one NormalizedText, with the
// same result as normalising the whole source at once. Two stages look at neighbours
// (collapse merges runs, separators drop runs between letters); their state carries
// from piece to piece, and the last few characters of the result stay open until the
// source goes on. The owner may erase stable characters from the front of the result
// between pieces.
class PieceNormalizer {
 public:
  PieceNormalizer(NormalizationLevel level, NormalizedText& out);
  ~PieceNormalizer();
  PieceNormalizer(const PieceNormalizer&) = delete;
  PieceNormalizer& operator=(const PieceNormalizer&) = delete;

  // Normalises the next piece, which starts at source byte `base` (where the previous
  // piece ended) and at a character boundary of the source.
  void feed(std::string_view piece, std::size_t base);
  // The source has ended (what waited for what follows is settled).
  void finish();

  // The characters and bytes at the front of the result that no later piece changes.
  // Once the source has ended, every character is stable.
  std::pair<std::size_t, std::size_t> stable() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwhisk
