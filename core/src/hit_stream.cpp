#include "hit_stream.hpp"

#include <algorithm>

#include "utf8.hpp"

namespace tarnwhisk {

HitStream::HitStream(const Matcher& matcher, NormalizationLevel level, MatchMode mode)
    : normalizer_(level, win_), scan_(matcher, mode) {}

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
