// The allowlist: harmless terms whose occurrences cancel overlapping hits.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

class TermIndex;

// A list of terms, matched byte for byte (ASCII letters without regard to case) against
// the caller's source text. Immutable after construction.
class Allowlist {
 public:
  // `terms` are stored as given, each ASCII-lower-cased; order and duplicates are kept,
  // empty terms too (an empty term covers every hit with a character boundary strictly
  // inside it).
  explicit Allowlist(std::vector<std::string> terms = {});
  Allowlist(Allowlist&&) noexcept;
  Allowlist& operator=(Allowlist&&) noexcept;
  ~Allowlist();

  // `hits` without the hits that an occurrence of some term in `text` overlaps by at
  // least one byte (touching is not overlapping). The rest keep their order. `text` is
  // the source text that was normalised and scanned. Linear in text and hits.
  std::vector<Match> filter(std::string_view text, std::vector<Match> hits) const;

  // Whether some occurrence of some term in `lowered` (the ASCII-lower-cased source
  // text) shares a byte with [start, end).
  bool covers(std::string_view lowered, std::size_t start, std::size_t end) const;

  // The stored (lower-cased) terms, in the order given.
  const std::vector<std::string>& terms() const noexcept { return terms_; }
  bool empty() const noexcept { return terms_.empty(); }

 private:
  std::vector<std::string> terms_;
  std::unique_ptr<TermIndex> index_;
};

}  // namespace tarnwhisk
