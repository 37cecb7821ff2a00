// The window on the normalised text as the whole-word test reads it; shared by the two
// halves of the scan (scan_stream.cpp and scan_masks.inc).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ascii.hpp"
#include "matcher/scan_stream.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

// The window's text with what the whole-word test asks of it: bytes, and the flags of
// the character at a byte. Positions are relative to the window.
class ScanStream::Window {
 public:
  explicit Window(const NormalizedText& nt) noexcept
      : nt_(nt), char_per_byte_(nt.offsets.size() == nt.text.size()) {}

  std::size_t size() const noexcept { return nt_.text.size(); }
  unsigned char byte(std::size_t b) const noexcept { return static_cast<unsigned char>(nt_.text[b]); }
  bool word(std::size_t b) const noexcept { return ascii::kWordBytes[byte(b)]; }

  // Whether the character at byte b is a letter made of a symbol ("!", "$", "@", a
  // look-alike that is punctuation), as seen from the side that `bit` names.
  bool symbol(std::size_t b, std::uint8_t bit) const noexcept {
    return ascii::kWordBytes[byte(b)] && !nt_.flags.empty() && (nt_.flags[index_of(b)] & bit) != 0;
  }
  // Thorough: whether byte b is the code an "@" became (the symbol that stands for a or
  // o), as seen from the side that `bit` names; and whether it is a "." or "-", which
  // join the parts of an e-mail address.
  bool at_sign(std::size_t b, std::uint8_t bit) const noexcept { return byte(b) == 'A' && symbol(b, bit); }
  bool address_separator(std::size_t b) const noexcept { return byte(b) == '.' || byte(b) == '-'; }
  // Whether separators between single letters were dropped just before byte b: a word
  // may start there whatever stands before it.
  bool joined(std::size_t b) const noexcept {
    return !nt_.flags.empty() && (nt_.flags[index_of(b)] & kJoined) != 0;
  }
  std::uint8_t flags_of_char(std::size_t index) const noexcept { return nt_.flags.empty() ? 0 : nt_.flags[index]; }

  // The index of the character that starts at byte b. Asked in increasing order but for
  // one character back (the left neighbour of a hit that starts where the previous one
  // ended), so a cursor walks the window once.
  std::size_t index_of(std::size_t b) const noexcept {
    if (char_per_byte_) return b;
    if (b < byte_) {
      if (b == back_byte_) return back_index_;
      byte_ = index_ = 0;
    }
    while (byte_ < b) {
      back_byte_ = byte_;
      back_index_ = index_;
      byte_ += utf8::char_len(nt_.text, byte_);
      ++index_;
    }
    return index_;
  }

  const NormalizedText& text() const noexcept { return nt_; }

 private:
  const NormalizedText& nt_;
  bool char_per_byte_;
  mutable std::size_t byte_ = 0;  // a character boundary, and the index of its character
  mutable std::size_t index_ = 0;
  mutable std::size_t back_byte_ = 0;  // the character before byte_, once the cursor moved
  mutable std::size_t back_index_ = 0;
};

}  // namespace tarnwhisk
