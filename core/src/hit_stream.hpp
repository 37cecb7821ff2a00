// The hits of a source that is normalised and scanned piece by piece: what lets a long
// text, or a stream, be worked on in memory of bounded size with the same result as
// the whole text at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "matcher/scan_stream.hpp"
#include "normalize/piece_normalizer.hpp"
#include "tarnwhisk/matcher.hpp"
#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {

class HitStream {
 public:
  HitStream(const Matcher& matcher, NormalizationLevel level, MatchMode mode);
  ~HitStream();
  HitStream(const HitStream&) = delete;
  HitStream& operator=(const HitStream&) = delete;

  // The next piece of the source, which goes on where the previous one ended and ends at
  // a character boundary. Appends the hits that are decided, in order; their positions
  // count from the start of the source (and of the whole normalised text).
  void feed(std::string_view piece, std::vector<Match>& out);
  // The next bytes of the source, cut anywhere: the bytes of a character cut at the end
  // wait for the rest of it.
  void feed_bytes(std::string_view bytes, std::vector<Match>& out);
  // The source has ended: appends the remaining hits.
  void finish(std::vector<Match>& out);

  // Bytes of the source taken so far (by feed_bytes, including the bytes that wait).
  std::size_t consumed() const noexcept { return source_pos_ + carry_.size(); }
  // The smallest source offset at which a hit not yet handed out may start: every hit
  // that starts before it has been appended by feed() already. (The source before it
  // is final for a censor.)
  std::size_t settled() const noexcept { return scan_.settled(win_, source_pos_); }

 private:
  // The window on the normalised text: its buffers come from the calling thread's
  // spare ones and go back there (see the .cpp).
  NormalizedText win_;
  PieceNormalizer normalizer_;
  ScanStream scan_;
  std::size_t source_pos_ = 0;
  std::string carry_;  // the start of a character cut by feed_bytes
};

// Where to end a piece of `text` that starts at `from` and should be about `size` bytes
// long: at a character boundary, never before from + 1 (text.size() at the most).
std::size_t piece_end(std::string_view text, std::size_t from, std::size_t size) noexcept;

}  // namespace tarnwhisk
