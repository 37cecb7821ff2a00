#include "hit_stream.hpp"

#include <algorithm>

#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// One spare set of window buffers per thread: a long call then does not fetch fresh
// pages from the system for them every time (page faults cost a fifth of find on
// 1 MiB when each call made its own). A stream takes the set and gives it back; one made
// while the set is taken (a call from inside a Poll) starts with empty buffers. Buffers
// that grew beyond what a thread may keep (pieces larger than the default) are dropped.
NormalizedText& spare() {
  thread_local NormalizedText s;
  return s;
}
constexpr std::size_t kKeptTextBytes = std::size_t{256} << 10;
constexpr std::size_t kKeptEntries = std::size_t{128} << 10;

NormalizedText take_spare() {
  NormalizedText t = std::move(spare());
  t.text.clear();
  t.offsets.clear();
  t.flags.clear();
  return t;
}

}  // namespace

HitStream::HitStream(const Matcher& matcher, NormalizationLevel level, MatchMode mode)
    : win_(take_spare()), normalizer_(level, win_), scan_(matcher, mode) {}

HitStream::~HitStream() {
  NormalizedText& s = spare();
  if (win_.text.capacity() <= kKeptTextBytes && win_.offsets.capacity() <= kKeptEntries &&
      s.offsets.capacity() < win_.offsets.capacity())
    s = std::move(win_);
}

void HitStream::feed(std::string_view piece, std::vector<Match>& out) {
  normalizer_.feed(piece, source_pos_);
  source_pos_ += piece.size();
  scan_.scan(win_, normalizer_.stable().second, out);
  scan_.trim(win_);
}

void HitStream::feed_bytes(std::string_view bytes, std::vector<Match>& out) {
  if (!carry_.empty()) {
    // The cut character, completed by the bytes it needs (or found never to be one: then
    // its bytes are characters of their own, as in a whole text).
    std::string head = carry_;
    head.append(bytes.substr(0, 3));
    if (utf8::incomplete_tail(head) == head.size()) {
      carry_ = std::move(head);
      return;
    }
    std::size_t q = 0;
    while (q < carry_.size()) q += utf8::char_len(head, q);
    bytes.remove_prefix(q - carry_.size());
    carry_.clear();
    head.resize(q);
    feed(head, out);
  }
  const std::size_t keep = bytes.size() - utf8::incomplete_tail(bytes);
  carry_.assign(bytes.substr(keep));
  if (keep != 0) feed(bytes.substr(0, keep), out);
}

void HitStream::finish(std::vector<Match>& out) {
  if (!carry_.empty()) {
    const std::string head = std::move(carry_);
    carry_.clear();
    normalizer_.feed(head, source_pos_);
    source_pos_ += head.size();
  }
  normalizer_.finish();
  scan_.finish(win_, out);
}

std::size_t piece_end(std::string_view text, std::size_t from, std::size_t size) noexcept {
  std::size_t end = from + std::max<std::size_t>(size, 1);
  if (end >= text.size()) return text.size();
  while (end > from + 1 && !utf8::is_char_boundary(text, end)) --end;
  if (!utf8::is_char_boundary(text, end)) {
    // A piece of one byte inside a character: take the whole character.
    end = from + utf8::char_len(text, from);
  }
  return end;
}

}  // namespace tarnwhisk
