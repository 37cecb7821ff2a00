// A text in chunks through the filter's road: the matcher's hits (HitStream) wait in
// two queues, one for the allowlist scan to pass them and one for the scorer's context
// to arrive, and leave in order; the censor writes each hit as it leaves and the source
// up to where no later hit can start.
#include "tarnwhisk/stream.hpp"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>
#include <stdexcept>

#include "hit_stream.hpp"
#include "tarnwhisk/config.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// A chunk is fed in slices of at most this many bytes, so that the hits and allowlist
// occurrences found in one slice, and the source kept for them, stay small whatever
// the chunk's size.
constexpr std::size_t kSlice = 64 * 1024;

// The scorer's stretch ends at the end of the character that holds byte end + context
// - 1, which ends at most three bytes later; telling where it ends reads two bytes
// further.
constexpr std::size_t kCharSlack = 6;

std::size_t minus(std::size_t a, std::size_t b) noexcept { return a > b ? a - b : 0; }
// a + b, or the largest value where that overflows (a scorer context of "everything").
std::size_t plus(std::size_t a, std::size_t b) noexcept { return a + b >= a ? a + b : SIZE_MAX; }

}  // namespace

struct TextStream::Impl {
  Impl(const Tarnwhisk& filter, const StreamOptions& options)
      : filter(filter),
        censor(options.censor),
        context(filter.scorer() ? options.scorer_context : 0),
        scorer(filter.scorer().get()),
        hits(filter.matcher(), filter.normalization(), filter.match_mode()),
        allow(filter.allowlist()),
        use_allowlist(!filter.allowlist().empty()),
        keep_source(censor || scorer != nullptr || allow.needs_hit_text()) {}

  void feed(std::string_view chunk, Output& out);
  void finish(Output& out);

  // Whether a character of the whole text starts at source byte p (or the text ends
  // there). Asked for base <= p, where base is such a position and a character ends at
  // or after p within the bytes held (or they reach the end of the text): then the test
  // on the held bytes and the walk from the start of the text agree.
  bool boundary(std::size_t p) const noexcept { return utf8::is_char_boundary(source, p - base); }
  std::string_view held(std::size_t from, std::size_t to) const {
    return std::string_view(source).substr(from - base, to - from);
  }

  // Where the matcher's next hit may start, and where any hit still to come may.
  std::size_t matcher_settled() const noexcept { return ended ? consumed : hits.settled(); }
  std::size_t settled() const noexcept {
    std::size_t at = matcher_settled();
    if (!allow_wait.empty()) at = std::min(at, allow_wait.front().start);
    if (!score_wait.empty()) at = std::min(at, score_wait.front().start);
    return at;
  }

  void route(Output& out);
  void to_scorer(const Match& hit, Output& out);
  void release(const Match& hit, Output& out);
  void drain(Output& out);
  void advance(Output& out);

  const Tarnwhisk& filter;
  const bool censor;
  const std::size_t context;
  const SemanticScorer* const scorer;
  HitStream hits;
  AllowlistScan allow;
  const bool use_allowlist;
  const bool keep_source;

  std::string source;        // the source from byte `base` (a character boundary) on
  std::size_t base = 0;
  std::size_t consumed = 0;
  std::size_t written = 0;   // censored text is out for the source before this byte
  std::vector<Match> found;  // the matcher's new hits, before they are queued
  std::deque<Match> allow_wait;  // waiting for the allowlist scan
  std::deque<Match> score_wait;  // waiting for the scorer's context
  bool ended = false;        // the matcher and the allowlist scan have seen the end
  bool finished = false;     // and everything has left
};

void TextStream::Impl::feed(std::string_view chunk, Output& out) {
  if (ended) throw std::logic_error("TextStream::feed after finish");
  // Should the scorer throw, the rest of the chunk is still taken (its hits wait in the
  // queues), so that the caller need not work out how much of it went in.
  std::exception_ptr failure;
  while (!chunk.empty()) {
    const std::string_view slice = chunk.substr(0, kSlice);
    chunk.remove_prefix(slice.size());
    if (keep_source) source.append(slice);
    consumed += slice.size();
    if (use_allowlist) allow.feed(slice);
    hits.feed_bytes(slice, found);
    route(out);
    if (failure) continue;
    try {
      drain(out);
      advance(out);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TextStream::Impl::finish(Output& out) {
  if (finished) return;
  if (!ended) {
    hits.finish(found);
    allow.finish();
    ended = true;
    route(out);
  }
  drain(out);
  advance(out);
  finished = true;
}

// The matcher's new hits join the first queue they need.
void TextStream::Impl::route(Output& out) {
  for (const Match& hit : found) {
    if (use_allowlist) {
      allow_wait.push_back(hit);
    } else {
      to_scorer(hit, out);
    }
  }
  found.clear();
}

void TextStream::Impl::to_scorer(const Match& hit, Output& out) {
  if (scorer != nullptr) {
    score_wait.push_back(hit);
  } else {
    release(hit, out);
  }
}

// Moves the decided hits at the front of each queue on, in order.
void TextStream::Impl::drain(Output& out) {
  while (!allow_wait.empty() && allow.decided(allow_wait.front().end)) {
    const Match hit = allow_wait.front();
    allow_wait.pop_front();
    const std::string_view text = allow.needs_hit_text() ? held(hit.start, hit.end) : std::string_view();
    if (!allow.covers(hit.start, hit.end, text)) to_scorer(hit, out);
  }
  while (!score_wait.empty() && (ended || plus(score_wait.front().end, plus(context, kCharSlack)) <= consumed)) {
    const Match hit = score_wait.front();
    std::size_t from = minus(hit.start, context);
    while (!boundary(from)) --from;
    std::size_t to = std::min(plus(hit.end, context), consumed);
    while (!boundary(to)) ++to;
    Match seen = hit;
    seen.start -= from;
    seen.end -= from;
    // The hit leaves the queue only once scored, so a scorer that throws finds it
    // there again on the next call. A NaN score fails the comparison and drops it.
    const bool keep = scorer->score(held(from, to), seen) >= filter.scorer_threshold();
    score_wait.pop_front();
    if (keep) release(hit, out);
  }
}

// A hit leaves: to the caller, and masked into the censored text unless it starts
// inside the previous masked hit (which is what the censor does on the whole text).
void TextStream::Impl::release(const Match& hit, Output& out) {
  out.hits.push_back(hit);
  if (!censor || hit.start < written) return;
  Match masked = hit;
  masked.start -= written;
  masked.end -= written;
  out.censored += censor::apply(held(written, hit.end), std::span<const Match>(&masked, 1),
                                filter.censor_style(), filter.mask_char());
  written = hit.end;
}

// Writes the source up to where a hit still to come may start, forgets allowlist
// occurrences that no such hit can meet, and drops the source that nothing needs.
void TextStream::Impl::advance(Output& out) {
  if (use_allowlist) {
    // The allowlist is still asked about the hits in its queue and the matcher's next.
    std::size_t asked = matcher_settled();
    if (!allow_wait.empty()) asked = std::min(asked, allow_wait.front().start);
    allow.forget(asked);
  }
  const std::size_t next = settled();
  if (censor && next > written) {
    out.censored.append(held(written, next));
    written = next;
  }
  if (!keep_source) return;

  // Nothing still to come starts before `next` (nor before `written`), and what came
  // before base is gone: keep is never below base.
  std::size_t keep = std::max(minus(next, context), base);
  if (censor) keep = std::min(keep, written);
  while (!boundary(keep)) --keep;
  // Erasing from the front moves what stays: only when that is no more than what goes.
  const std::size_t dead = keep - base;
  if (dead >= 4096 && dead >= source.size() - dead) {
    source.erase(0, dead);
    base = keep;
  }
}

TextStream::TextStream(const Tarnwhisk& filter, const StreamOptions& options)
    : impl_(std::make_unique<Impl>(filter, options)) {}
TextStream::TextStream(TextStream&&) noexcept = default;
TextStream& TextStream::operator=(TextStream&&) noexcept = default;
TextStream::~TextStream() = default;

void TextStream::feed(std::string_view chunk, Output& out) { impl_->feed(chunk, out); }
void TextStream::finish(Output& out) { impl_->finish(out); }
std::size_t TextStream::consumed() const noexcept { return impl_->consumed; }
std::size_t TextStream::settled() const noexcept { return impl_->settled(); }
std::size_t TextStream::censored_through() const noexcept { return impl_->censor ? impl_->written : 0; }
std::size_t TextStream::held_bytes() const noexcept { return impl_->source.size(); }
bool TextStream::finished() const noexcept { return impl_->finished; }

TextStream Tarnwhisk::stream(const StreamOptions& options) const { return TextStream(*this, options); }

}  // namespace tarnwhisk
