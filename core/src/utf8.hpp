// UTF-8 helpers shared by the stages, the matcher, the allowlist, the censor and the
// Python binding (an internal header: not installed).
//
// The core is given UTF-8 text. Should a byte not belong to a well-formed sequence,
// every helper here treats that one byte as a character of its own (decoded as
// U+FFFD), so that walking, counting and decoding agree everywhere and never read past
// the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwhisk::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed sequence that starts at s[i] (i < s.size()), or 1 when the
// byte there does not start one.
inline std::size_t char_len(std::string_view s, std::size_t i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  const std::size_t left = s.size() - i;
  auto cont = [&](std::size_t k) {
    return (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  };
  if (b0 >= 0xC2 && b0 <= 0xDF) return (left >= 2 && cont(1)) ? 2 : 1;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 3 || !cont(1) || !cont(2)) return 1;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b0 == 0xE0 && b1 < 0xA0) return 1;   // overlong
    if (b0 == 0xED && b1 >= 0xA0) return 1;  // surrogate
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 4 || !cont(1) || !cont(2) || !cont(3)) return 1;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b0 == 0xF0 && b1 < 0x90) return 1;   // overlong
    if (b0 == 0xF4 && b1 >= 0x90) return 1;  // beyond U+10FFFF
    return 4;
  }
  return 1;
}

// Decodes the character at s[i] (i < s.size()) of byte length `len` (from char_len).
inline char32_t decode(std::string_view s, std::size_t i, std::size_t len) noexcept {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k])); };
  switch (len) {
    case 1: return b(0) < 0x80 ? b(0) : kReplacement;
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

// Number of bytes that encode(c) writes (surrogates and values beyond U+10FFFF are
// written as U+FFFD).
inline std::size_t encoded_len(char32_t c) noexcept {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000) return 3;
  if (c <= 0x10FFFF) return 4;
  return 3;
}

// Writes the UTF-8 form of the Unicode scalar value `c` at `p`, which has room for
// encoded_len(c) bytes; returns the end of what it wrote. The one encoder of the project:
// encode() below, the one-pass normaliser and the Python binding all write through it.
inline char* put(char32_t c, char* p) noexcept {
  if (c < 0x80) {
    p[0] = static_cast<char>(c);
    return p + 1;
  }
  if (c < 0x800) {
    p[0] = static_cast<char>(0xC0 | (c >> 6));
    p[1] = static_cast<char>(0x80 | (c & 0x3F));
    return p + 2;
  }
  if (c < 0x10000) {
    p[0] = static_cast<char>(0xE0 | (c >> 12));
    p[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    p[2] = static_cast<char>(0x80 | (c & 0x3F));
    return p + 3;
  }
  p[0] = static_cast<char>(0xF0 | (c >> 18));
  p[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  p[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  p[3] = static_cast<char>(0x80 | (c & 0x3F));
  return p + 4;
}

// Whether c is a Unicode scalar value: not a surrogate, not beyond U+10FFFF.
inline constexpr bool is_scalar(char32_t c) noexcept { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

// Appends the UTF-8 form of `c`; a value that is not a Unicode scalar value is written
// as U+FFFD.
inline void encode(char32_t c, std::string& out) {
  if (!is_scalar(c)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(put(c, bytes) - bytes));
}

inline constexpr bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Whether `p` (at most s.size()) is a position where the walk by char_len from byte 0
// starts a character, or the end of the text. Every byte that is not a continuation byte
// starts one; a continuation byte does unless the well-formed sequence of the nearest
// preceding non-continuation byte (at most three back) reaches over it.
inline bool is_char_boundary(std::string_view s, std::size_t p) noexcept {
  if (p == 0 || p >= s.size()) return true;
  if (!is_continuation(static_cast<unsigned char>(s[p]))) return true;
  for (std::size_t k = 1; k <= 3 && k <= p; ++k) {
    const std::size_t r = p - k;
    if (!is_continuation(static_cast<unsigned char>(s[r]))) return char_len(s, r) <= k;
  }
  return true;
}

// The number of bytes at the end of `s` (0 to 3) that begin a well-formed sequence
// without finishing it: where a text cut there goes on, they may be one character.
inline std::size_t incomplete_tail(std::string_view s) noexcept {
  for (std::size_t k = 1; k <= 3 && k <= s.size(); ++k) {
    const auto lead = static_cast<unsigned char>(s[s.size() - k]);
    if (lead >= 0x80 && lead < 0xC0) continue;  // a continuation byte: look further back
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const std::size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (need <= k) return 0;
    if (k >= 2) {
      const auto second = static_cast<unsigned char>(s[s.size() - k + 1]);
      const unsigned char lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
      const unsigned char hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
      if (second < lo || second > hi) return 0;
    }
    return k;
  }
  return 0;
}

// Number of characters in `s`, counted as char_len walks it.
inline std::size_t count_chars(std::string_view s) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += char_len(s, i)) ++n;
  return n;
}

}  // namespace tarnwhisk::utf8

namespace tarnwhisk {

// A to Z become a to z; every other byte is unchanged.
inline constexpr char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

}  // namespace tarnwhisk
