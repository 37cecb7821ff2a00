// Filtering a text that arrives in chunks: a socket, a pipe, a file too large to hold.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

class Tarnwhisk;

// What a stream produces besides the hits.
struct StreamOptions {
  // Write the censored text. Off, the stream only reports hits: it masks nothing and
  // keeps no source bytes for the censor (it still keeps what a scorer or an empty
  // allowlist term reads).
  bool censor = true;
  // With a scorer attached to the filter, how many bytes of the source on either side of
  // a hit the scorer is shown (see TextStream). A hit waits until this many bytes (and a
  // few more, to end on a whole character) follow it, so memory grows with it.
  std::size_t scorer_context = 256;
};

// One text, given in chunks, through a filter: the hits and the censored text come out
// as they become final, exactly as find() and censor() on the whole text would give
// them, allowlist included, whatever the chunks.
//
//   TextStream stream = filter.stream();
//   TextStream::Output out;
//   while (read(chunk)) { stream.feed(chunk, out); use(out); out.hits.clear(); out.censored.clear(); }
//   stream.finish(out); use(out);
//
// The filter must outlive the stream and stay where it is (not be moved from or
// assigned to) while the stream lives. A stream is for one thread at a time; any number
// of streams may run on one filter at once.
//
// Hits: positions count from the start of the whole text (start, end in the source
// bytes; normalized_start, normalized_end in the whole normalised text), and the hits
// arrive in the order of find(). A hit leaves once nothing still to come can change
// it: the matcher has decided it (a hit waits for the character after it, and so do
// the hits behind it), the allowlist scan is past its end by the longest term's length
// less one byte, and, with a scorer, scorer_context bytes follow it.
//
// Censored text: out.censored receives the next stretch of censor() of the whole text,
// up to where no hit still to come can start; at finish() the rest. Concatenated over
// all calls it is censor() of the whole text.
//
// Scorer: it cannot see the whole text, which the stream does not keep. It is shown the
// stretch of the source from the start of the character that holds byte
// hit.start - scorer_context (or the start of the text) to the end of the character that
// holds byte hit.end + scorer_context - 1 (or the end of the text), and a copy of the hit
// whose start and end count from the start of that stretch (the other fields are as
// find() gives them). So a scorer that reads no further than scorer_context bytes from
// the hit decides as it does in find(); the stretch is the same whatever the chunks.
//
// Memory: a constant (mostly the normaliser's window, sized for the 64 KiB slices that
// a chunk is worked in: about 2.5 MB for prose) plus what waits, which for ordinary text
// is a few KiB: the source from the first byte that the censor or a waiting hit may
// still need (given back in blocks of 4 KiB or more), the hits not yet decided, and
// allowlist occurrences near them. What can make it grow is a stretch that the
// normaliser or the matcher must see the end of before deciding: a run of one repeated
// character (one normalised character until it ends; its source waits), at the
// aggressive and thorough levels a run of separators after a letter, a hit followed by
// a run of "!", "$" and "@" mixed, a long allowlist term, or a large scorer_context. A
// large chunk costs no more than its own output.
//
// Errors: feeding after finish() throws std::logic_error and changes nothing. An
// exception thrown by the scorer leaves feed() or finish() with the stream consistent:
// the chunk was taken whole, what was appended to `out` stands, the hit being scored
// waits, and the next call (finish() included) goes on from there and asks the scorer
// about that hit again.
class TextStream {
 public:
  // What feed() and finish() append to.
  struct Output {
    std::vector<Match> hits;
    std::string censored;  // empty when StreamOptions::censor is off
  };

  // A stream through `filter` (see above for how long it must live).
  explicit TextStream(const Tarnwhisk& filter, const StreamOptions& options = {});
  TextStream(TextStream&&) noexcept;
  TextStream& operator=(TextStream&&) noexcept;
  ~TextStream();

  // The next bytes of the text, going on where the previous chunk ended; cut anywhere,
  // inside characters too. Appends to `out` the hits and the stretch of censored text
  // that became final.
  void feed(std::string_view chunk, Output& out);
  // The text has ended: appends everything that was still waiting. Calling it again
  // appends nothing.
  void finish(Output& out);

  // Bytes fed so far.
  std::size_t consumed() const noexcept;
  // The smallest source offset at which a hit still to come may start (consumed() once
  // finished). A caller that wants the bytes of the hits it receives keeps its own copy
  // of the source from here on.
  std::size_t settled() const noexcept;
  // The censored text written so far is the censored form of source bytes
  // [0, censored_through()). 0 when StreamOptions::censor is off.
  std::size_t censored_through() const noexcept;
  // Source bytes the stream holds (for the censor, the scorer or the empty allowlist
  // term): what waits, not the text's length.
  std::size_t held_bytes() const noexcept;
  // Whether finish() has completed.
  bool finished() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwhisk
