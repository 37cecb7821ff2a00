// The scalar ASCII kernel of the one-pass writer: one byte at a time, with the
// writer's state held in registers. Every build has it; where SSE2 is compiled it takes
// the bytes the block kernel (ascii_block_sse2.hpp) leaves: short runs of ASCII
// between other characters, the blocks with a leetspeak symbol or a third copy of a
// run, and the tail of a text. Alone (TARNWHISK_SIMD=OFF) it normalises prose at about
// 0.55 GB/s at Basic and 0.4-0.5 GB/s at Aggressive, against 1.4-1.65 and 0.65 GB/s
// with the SSE2 kernels (normalize_bench OnePass/prose_*, both builds on one machine).
#pragma once

#include "normalize/fused_writer.hpp"

namespace tarnwhisk::fused {
// Internal linkage: this header belongs to fused.cpp alone, and a kernel called from
// one place is inlined there as when all of it was one file.
namespace {

// One character at a time, for src[i, n) up to the first non-ASCII byte, with the
// state in registers so that letters take the first branch. n - i entries must fit.
template <bool kAggressive>
inline std::size_t Writer<kAggressive>::push_ascii_scalar(std::size_t i, std::size_t n) {
  const char* const src = src_.data();
  char* t = t_;
  SourceRange* o = o_;
  char32_t run_char = run_char_;
  std::size_t pending = pending_;
  bool in_separators = in_separators_, last_is_letter = last_is_letter_;
  for (; i < n; ++i) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b >= 0x80) break;
    const auto c = static_cast<unsigned char>(ascii::kFold[b]);
    if (c == run_char) [[unlikely]] {
      t_ = t, o_ = o, pending_ = pending;
      repeat(c, entry(i, 1), kAsciiFlags[b]);
      t = t_, o = o_, pending = pending_;
      continue;
    }
    run_char = c;
    run_len_ = 1;
    if constexpr (kAggressive) {
      const std::uint8_t cls = ascii::kClasses[c];
      if (cls & ascii::kLetter) [[likely]] {
        if (pending != 0) {
          t_ = t, o_ = o, pending_ = pending;
          take_back_separators();
          t = t_, o = o_;
          pending = 0;
        }
        in_separators = false;
        last_is_letter = true;
      } else if (cls & ascii::kSeparator) {
        pending += pending != 0 || (!in_separators && last_is_letter);
        in_separators = true;
        last_is_letter = false;
      } else {
        pending = 0;
        in_separators = false;
        last_is_letter = false;
      }
    }
    *t++ = static_cast<char>(c);
    fbuf_[o - obuf_] = kAsciiFlags[b];
    *o++ = entry(i, 1);
  }
  t_ = t;
  o_ = o;
  run_char_ = run_char;
  pending_ = pending;
  in_separators_ = in_separators;
  last_is_letter_ = last_is_letter;
  return i;
}

}  // namespace
}  // namespace tarnwhisk::fused
