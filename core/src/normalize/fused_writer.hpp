// The one-pass normaliser's writer for Basic and Aggressive: it receives the characters
// that leave the per-character stages and writes what collapse and separators make of
// them into staging buffers that stay in the first-level cache. Its ASCII kernels live
// beside it: ascii_block.hpp (one byte at a time, every build) and ascii_block_sse2.hpp
// (16 bytes at a time where SSE2 is compiled).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "simd.hpp"
#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

#include "ascii.hpp"
#include "normalize/fused_tables.hpp"
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::fused {
// Internal linkage: this header belongs to fused.cpp alone, and a kernel called from
// one place is inlined there as when all of it was one file.
namespace {

// Output goes to these buffers first; they are appended to the result when full and
// at the end. Text needs at most 4 bytes per entry.
constexpr std::size_t kStagingEntries = 512;

// Basic writes a stretch of ASCII blocks that collapse leaves alone straight to the
// result when it is at least kDirectMin bytes long, in steps of at most kDirectSpan
// bytes (so that the second pass over them finds them in the cache).
constexpr std::size_t kDirectMin = 64;
constexpr std::size_t kDirectSpan = 4096;

// Receives the characters that leave leetspeak and writes what collapse and (if
// kAggressive) separators make of them. Rather than holding characters back, it writes
// at once and takes back: the second copy of a run when a third arrives, and a run of
// separators when a letter follows it. Every separator is ASCII, so a run of them is as
// many bytes as characters.
//
// A text may come in pieces (feed() once per piece, in order): the state of the run and
// of the separators carries over, and what a later piece may still take back or merge
// is the tail that stable() leaves out.
template <bool kAggressive>
class Writer {
 public:
  explicit Writer(NormalizedText& out) noexcept : out_(out) {}

  // Normalises the next piece of the source, `src`, which starts at source byte `base`
  // and at a character boundary. Appends to the result.
  void feed(std::string_view src, std::size_t base);

  // The characters and bytes at the front of the result that no later piece changes:
  // all but the copies of the last run (a third copy takes back the second and merges
  // into the first) and the separators that a letter would take back (ASCII, all of
  // them; they include the run then).
  std::pair<std::size_t, std::size_t> stable() const noexcept {
    const std::size_t run_tail = run_char_ == kNoChar ? 0 : (run_len_ == 2 ? 2 : 1);
    if (pending_ >= run_tail) return {out_.offsets.size() - pending_, out_.text.size() - pending_};
    return {out_.offsets.size() - run_tail, out_.text.size() - run_tail * utf8::encoded_len(run_char_)};
  }

 private:
  static constexpr char32_t kNoChar = 0xFFFFFFFF;

  // Appends what is staged to the result. The first time in a piece, the result is
  // sized for the whole piece unless a growing character has sized it already.
  void flush() {
    if (!sized_) {
      out_.text.reserve(out_.text.size() + src_.size());
      out_.offsets.reserve(out_.offsets.size() + src_.size());
      out_.flags.reserve(out_.flags.size() + src_.size());
      sized_ = true;
    }
    const auto staged = static_cast<std::size_t>(o_ - obuf_);
    out_.text.append(tbuf_, static_cast<std::size_t>(t_ - tbuf_));
    out_.offsets.insert(out_.offsets.end(), obuf_, o_);
    out_.flags.insert(out_.flags.end(), fbuf_, fbuf_ + staged);
    t_ = tbuf_;
    o_ = obuf_;
  }

  // The last flush of a piece: when the result was not sized yet, it is sized exactly.
  void finish() {
    if (!sized_) {
      const auto staged = static_cast<std::size_t>(o_ - obuf_);
      out_.text.reserve(out_.text.size() + static_cast<std::size_t>(t_ - tbuf_));
      out_.offsets.reserve(out_.offsets.size() + staged);
      out_.flags.reserve(out_.flags.size() + staged);
      sized_ = true;
    }
    flush();
  }

  // A character whose form is longer than it is comes at byte i of the piece: the
  // guess of one byte and one entry per source byte may fail, so the result is sized for
  // the rest of the piece from here by its exact bound. Once per piece: kept out of
  // line, so that the loop of feed() stays small (measured on mixed-script text).
  [[gnu::noinline]] void grows_at(std::size_t i) {
    if (bounded_) return;
    bounded_ = true;
    sized_ = true;
    const auto [bytes, chars] = output_bound(src_.substr(i));
    const auto staged = static_cast<std::size_t>(o_ - obuf_);
    out_.text.reserve(out_.text.size() + static_cast<std::size_t>(t_ - tbuf_) + bytes);
    out_.offsets.reserve(out_.offsets.size() + staged + chars);
    out_.flags.reserve(out_.flags.size() + staged + chars);
  }

  // Makes room for `n` more entries in the staging buffers.
  void room(std::size_t n) {
    if (static_cast<std::size_t>(obuf_ + kStagingEntries - o_) < n) flush();
  }

  // The entry for the source bytes [i, i + len) of the piece.
  SourceRange entry(std::size_t i, std::size_t len) const noexcept { return {base_ + i, base_ + i + len}; }

  [[gnu::always_inline]] void push(char32_t c, SourceRange e, std::uint8_t flags) {
    if (c == run_char_) [[unlikely]] {
      repeat(c, e, flags);
      return;
    }
    run_char_ = c;
    run_len_ = 1;
    if constexpr (kAggressive) {
      const std::uint8_t cls = ascii_class(c);
      if (!(cls & ascii::kSeparator)) {
        if (cls & ascii::kLetter) take_back_separators();  // they stand between two letters
        pending_ = 0;
      } else if (pending_ != 0 || (!in_separators_ && last_is_letter_)) {
        ++pending_;
      }
      in_separators_ = cls & ascii::kSeparator;
      last_is_letter_ = cls & ascii::kLetter;
    }
    append(c, e, flags);
  }

  // push() for each character of src[i, n) up to the first non-ASCII byte; returns the
  // index of that byte (or n).
  std::size_t push_ascii(std::size_t i, std::size_t n) {
    while (i < n && static_cast<unsigned char>(src_[i]) < 0x80) {
      room(16);
#if TARNWHISK_SSE2
      i = push_blocks(i, n);
#endif
      const std::size_t free = static_cast<std::size_t>(obuf_ + kStagingEntries - o_);
      i = push_ascii_scalar(i, std::min(n, i + std::min<std::size_t>(free, 16)));
    }
    return i;
  }

  // One character at a time, for src[i, n) up to the first non-ASCII byte, with the
  // state in registers so that letters take the first branch. n - i entries must fit.
  std::size_t push_ascii_scalar(std::size_t i, std::size_t n);

#if TARNWHISK_SSE2
  // Whole blocks of 16 ASCII bytes from src[i, n) in which collapse has nothing to do
  // (no byte is the third of a run) and no symbol needs a flag. Returns where it
  // stopped: at the first block that is not one of these.
  // (Stores of vectors may alias anything, so the loop keeps its state in locals.)
  std::size_t push_blocks(std::size_t i, std::size_t n);

  // Basic, for src[start, end), blocks that collapse leaves alone: every byte becomes
  // its folded self with the entry (i, i + 1) and no flag. A long stretch goes to the
  // result directly, its text copied and folded there and its entries made in place; a
  // short one is staged.
  void write_identity(std::size_t start, std::size_t end);

  // A block at byte i of the piece, with bit k of `letters` and `seps` set for a letter
  // or a separator at i + k: writes every byte but the separators that stand between two
  // letters, and takes back written separators that now do.
  void block_aggressive(__m128i f, std::size_t i, unsigned letters, unsigned seps);
#endif

  // Takes back the pending separators: they stand between two letters.
  void take_back_separators() {
    const std::size_t k = pending_;
    if (k <= static_cast<std::size_t>(o_ - obuf_)) [[likely]] {
      t_ -= k;
      o_ -= k;
    } else {
      unwrite(k, k);
    }
    pending_ = 0;
  }

  // Takes back the last `chars` characters, `bytes` bytes in all, some of which have
  // left the staging buffers already.
  [[gnu::noinline, gnu::cold]] void unwrite(std::size_t chars, std::size_t bytes) {
    flush();
    out_.text.erase(out_.text.size() - bytes);
    out_.offsets.erase(out_.offsets.end() - static_cast<std::ptrdiff_t>(chars), out_.offsets.end());
    out_.flags.erase(out_.flags.end() - static_cast<std::ptrdiff_t>(chars), out_.flags.end());
  }

  // The entry and the flags of the last character written.
  SourceRange& last_entry() noexcept { return o_ != obuf_ ? o_[-1] : out_.offsets.back(); }
  std::uint8_t& last_flags() noexcept { return o_ != obuf_ ? fbuf_[o_ - obuf_ - 1] : out_.flags.back(); }

  // c equals the character of the current run, whose last copy is the last character
  // written (separators are taken back only before a letter, which starts a new run).
  void repeat(char32_t c, SourceRange e, std::uint8_t flags) {
    if (++run_len_ == 2) {
      append(c, e, flags);
      if (pending_ != 0) ++pending_;  // a second separator in a run that may be dropped
      return;
    }
    if (run_len_ == collapse::kMinRun) {
      // Take back the second copy: one character of encoded_len(c) bytes.
      if (o_ != obuf_) [[likely]] {
        t_ -= utf8::encoded_len(c);
        --o_;
      } else {
        unwrite(1, utf8::encoded_len(c));
      }
      if (pending_ != 0) --pending_;
    }
    last_entry().end = e.end;  // merge
    std::uint8_t& f = last_flags();
    f = merged_flags(f, flags);
  }

  [[gnu::always_inline]] void append(char32_t c, SourceRange e, std::uint8_t flags) {
    if (c < 0x80) [[likely]] {
      *t_++ = static_cast<char>(c);
    } else {
      t_ = utf8::put(c, t_);
    }
    fbuf_[o_ - obuf_] = flags;
    *o_++ = e;
  }

  NormalizedText& out_;
  std::string_view src_;
  std::size_t base_ = 0;  // where the piece starts in the source
  bool sized_ = false;    // the result has its capacity for this piece
  bool bounded_ = false;  // ... by the exact bound, after a growing character
  char* t_ = tbuf_;
  SourceRange* o_ = obuf_;
  char32_t run_char_ = kNoChar;
  std::size_t run_len_ = 0;
  // separators: the last character written is one of a run of separators, and the last
  // before that run is a letter; `pending_` of that run are written and will be taken
  // back if a letter follows (0 if the run does not follow a letter).
  bool in_separators_ = false;
  bool last_is_letter_ = false;
  std::size_t pending_ = 0;
  SourceRange obuf_[kStagingEntries];
  std::uint8_t fbuf_[kStagingEntries];
  char tbuf_[4 * kStagingEntries];
};

}  // namespace
}  // namespace tarnwhisk::fused
