// The one-pass writer's merges that reach back past the last character: three
// characters that are one stretched letter (three()), and symbols held apart after a run
// until what follows decides (punctuation(), settle()). The rest is in
// thorough_writer.cpp.
#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "normalize/thorough_detail.hpp"

namespace tarnwhisk::thorough {

// c, a code or after one, meets the last character, which it is not: it merges into a
// stretched run that it may stand for ("aaa@"), unless it is a "!" that may end the
// word, which is held apart; or three characters are one letter ("@4@").
Writer::Meet Writer::meet(char32_t c, std::uint8_t flags, std::size_t end) {
  if (last_flags() & kDoubled) {
    if (const char32_t m = merge_into(last_, true, c); m != 0) {
      if ((flags & (kSymbolFirst | kJoined)) == kSymbolFirst && trails(c)) return Meet::kHold;
      merge(m, flags, end);
      return Meet::kMerged;
    }
    return Meet::kApart;
  }
  return three(c, flags, end) ? Meet::kMerged : Meet::kApart;
}

// The last two characters, each alone, and c may be one stretched letter (merge_three():
// "@a@"): the last goes into the one before, and c too. Returns whether it did.
bool Writer::three(char32_t c, std::uint8_t flags, std::size_t end) {
  const auto staged = static_cast<std::size_t>(o_ - obuf_);
  if (staged < 2 && out_.offsets.size() + staged < 2) return false;
  // The character before the last (which is one ASCII byte): staged or in the result,
  // where stable() kept it.
  const bool in_stage = staged >= 2;
  const std::size_t k = in_stage ? staged - 2 : out_.offsets.size() - (2 - staged);
  char& x = in_stage ? t_[-2] : (staged == 1 ? out_.text.back() : out_.text[out_.text.size() - 2]);
  std::uint8_t& xf = in_stage ? fbuf_[k] : out_.flags[k];
  SourceRange& xe = in_stage ? obuf_[k] : out_.offsets[k];
  if ((xf & kDoubled) != 0) return false;
  const char32_t m = merge_three(static_cast<unsigned char>(x), last_, c);
  if (m == 0) return false;
  const std::uint8_t yf = last_flags();
  drop_last();
  x = static_cast<char>(m);
  xe.end = end;
  xf = static_cast<std::uint8_t>(merged_flags(merged_flags(xf, yf), flags) | kDoubled | kStretched);
  last_ = m;
  return true;
}

// The symbols held apart (the last character) stay apart. After a stretched run they
// become "!", which no word has and which ends a word for the whole-word test: a code
// for i or l there would let a word read a double letter in the run and the "!"
// ("helllll!" is "hell", not "hell" and "!"). After anything else they stay the code,
// a letter if a word ends with it ("lull!", "pak!!") and else punctuation.
void Writer::punctuation() {
  const auto staged = static_cast<std::size_t>(o_ - obuf_);
  const std::uint8_t run = staged >= 2 ? fbuf_[staged - 2] : staged == 1 ? out_.flags.back() : out_.flags[out_.flags.size() - 2];
  if (!(run & kStretched)) return;
  (staged != 0 ? t_[-1] : out_.text.back()) = '!';
  last_ = '!';
}

// The symbols held apart (the last character) meet c, which is not one of them: before a
// letter they go back into the run before them after all ("sh!!t", "h3ll!o" read as
// before); before anything else, and before a letter of a chain written again, they stay
// apart, punctuation after the word ("helllll!" is "hel" stretched, then "!").
void Writer::settle(char32_t c, std::uint8_t flags) {
  pending_ = false;
  if (!continues_word(c) || (flags & kJoined)) {
    punctuation();
    return;
  }
  const SourceRange held = last_entry();
  const std::uint8_t held_flags = last_flags();
  const char32_t symbol = last_;
  drop_last();
  // The run before it: one ASCII byte, which stable() kept open.
  char& run = o_ != obuf_ ? t_[-1] : out_.text.back();
  std::uint8_t& f = last_flags();
  const char32_t m = merge_into(static_cast<unsigned char>(run), (f & kDoubled) != 0, symbol);
  run = static_cast<char>(m);
  last_ = m;
  last_entry().end = held.end;
  const bool stretched = ((f | held_flags) & kDoubled) != 0;
  f = static_cast<std::uint8_t>(merged_flags(f, held_flags) | kDoubled | (stretched ? kStretched : 0));
}

}  // namespace tarnwhisk::thorough
