// The allowlist: harmless terms whose occurrences cancel overlapping hits.
#pragma once

#include <cstddef>
#include <cstdint>
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


  // The stored (lower-cased) terms, in the order given.
  const std::vector<std::string>& terms() const noexcept { return terms_; }
  bool empty() const noexcept { return terms_.empty(); }

 private:
  friend class AllowlistScan;
  std::vector<std::string> terms_;
  std::unique_ptr<TermIndex> index_;
};

// The allowlist over a source text that arrives in pieces, for hits that arrive in the
// order find() gives them: the terms are searched as the bytes come, and a hit is
// answered as soon as no byte still to come can hold an occurrence that overlaps it.
// The answers are those of Allowlist::filter on the whole source. Memory: the
// occurrences that end after the `pos` of the last forget(), at most one per byte.
class AllowlistScan {
 public:
  // Scans for the terms of `allowlist`, which must outlive the scan (and stay where it
  // is).
  explicit AllowlistScan(const Allowlist& allowlist);

  // The next bytes of the source, going on where the previous ones ended and cut
  // anywhere (inside characters too).
  void feed(std::string_view bytes);
  // The source has ended: every hit is decided.
  void finish() noexcept { finished_ = true; }

  // Bytes fed so far.
  std::size_t scanned() const noexcept { return scanned_; }
  // Whether covers() is final for a hit that ends at source byte `end`: the scan has
  // passed it by the longest term's length less one byte (an occurrence that ends later
  // starts at or after `end`), or the source has ended.
  bool decided(std::size_t end) const noexcept { return finished_ || end + reach_ <= scanned_; }
  // Whether the hit [start, end), which lies on character boundaries of the source, is
  // covered: some occurrence [q, e) of a non-empty term seen so far has q < end and
  // e > start, or the list holds the empty term and the hit is more than one character.
  // `hit_text` is the source bytes [start, end), read only for the empty term (pass
  // anything otherwise).
  bool covers(std::size_t start, std::size_t end, std::string_view hit_text) const noexcept;
  // Whether covers() reads `hit_text`.
  bool needs_hit_text() const noexcept { return empty_term_; }
  // Forgets the occurrences that end at or before source byte `pos`: no hit asked about
  // from now on starts before it.
  void forget(std::size_t pos) noexcept;
  // Occurrences kept (each a pair of offsets).
  std::size_t kept() const noexcept { return occurrences_.size() - head_; }

 private:
  friend class Allowlist;
  struct Occurrence {
    std::size_t end;
    std::size_t start;
  };
  // Whether a kept occurrence of a non-empty term overlaps [start, end).
  bool overlaps(std::size_t start, std::size_t end) const noexcept;

  const TermIndex* index_;
  bool empty_term_ = false;
  bool finished_ = false;
  std::size_t reach_ = 0;
  std::uint32_t state_ = 0;
  std::size_t scanned_ = 0;
  std::vector<Occurrence> occurrences_;  // ends and starts both increase
  std::size_t head_ = 0;                 // occurrences_[head_...] are kept
};

}  // namespace tarnwhisk
