// Per-thread buffers for the normalised text of a call: a call on a chat-sized message
// then allocates nothing but its result, and a call on a long text does not fetch fresh
// pages from the system for every call (measured: a fifth of the time of find on 1 MiB
// went to page faults when each call made its own buffers). What a thread keeps is
// bounded: buffers that a call grew beyond their kept size (a short text of unusual
// expansion, pieces larger than the default) are given back. (The window of a text
// taken piece by piece has its own spare buffers: hit_stream.cpp.)
#pragma once

#include <cstddef>

#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {

struct Scratch {
  NormalizedText text;
  std::size_t kept_text_bytes;
  std::size_t kept_offsets;

  // The calling thread's buffers for a text of `bytes` bytes (up to a piece): small ones
  // for texts up to 4 KiB, large ones for longer texts. Nothing that runs while they are
  // in use may call back into a filter on the same thread.
  static Scratch& for_text(std::size_t bytes);

  // Gives the buffers back when they outgrew what the thread may keep.
  void trim() noexcept {
    if (text.text.capacity() > kept_text_bytes || text.offsets.capacity() > kept_offsets)
      text = NormalizedText();
  }
};

}  // namespace tarnwhisk
