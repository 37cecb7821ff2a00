// What the levels None to Aggressive and the whole-word test know of each ASCII byte,
// in one table: the separators, the leetspeak symbols and digits, the letters and the
// bytes words are made of. Every stage, the one-pass normaliser (scalar and SSE2) and
// the matcher read their rules from here, so a rule is changed in one place; the SSE2
// kernels state their masks as data that static_asserts hold equal to this table.
// (Thorough has rules of its own, in normalize/thorough.hpp.)
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarnwhisk::ascii {

// The tables below are read byte by byte in the normaliser's and the whole-word test's
// loops. Hidden, so that position-independent code addresses them directly instead of
// loading their address from the global offset table (which the scan loop paid for).
#define TARNWHISK_ASCII_TABLE [[gnu::visibility("hidden")]] inline constexpr

// The classes; a byte may be in several (a digit is a leet and a word byte).
enum : std::uint8_t {
  kLetter = 1 << 0,     // A to Z, a to z: what separators may stand between
  kSeparator = 1 << 1,  // deleted at Aggressive when between two letters ("b.a.d")
  kSymbol = 1 << 2,     // "!", "$", "@": folded to letters, but punctuation at a word's edge
  kLeet = 1 << 3,       // changed by leetspeak (the symbols and some digits)
  kWordByte = 1 << 4,   // letters, digits and "_": bytes that continue a word
};

// The separators: space and tab and the punctuation people put between letters.
inline constexpr std::string_view kSeparators = "\t *,-./:;\\_|";
// Leetspeak: kLeetFrom[k] is written for the letter kLeetTo[k].
inline constexpr std::string_view kLeetFrom = "!$01345789@";
inline constexpr std::string_view kLeetTo = "isoieastbga";
static_assert(kLeetFrom.size() == kLeetTo.size());
// The leetspeak symbols that are punctuation elsewhere.
inline constexpr std::string_view kSymbols = "!$@";

inline constexpr bool is_upper(unsigned c) noexcept { return c >= 'A' && c <= 'Z'; }
inline constexpr bool is_lower(unsigned c) noexcept { return c >= 'a' && c <= 'z'; }
inline constexpr bool is_digit(unsigned c) noexcept { return c >= '0' && c <= '9'; }

TARNWHISK_ASCII_TABLE std::array<std::uint8_t, 128> kClasses = [] {
  std::array<std::uint8_t, 128> t{};
  for (unsigned c = 0; c < 128; ++c) {
    if (is_upper(c) || is_lower(c)) t[c] |= kLetter | kWordByte;
    if (is_digit(c) || c == '_') t[c] |= kWordByte;
  }
  for (char c : kSeparators) t[static_cast<unsigned char>(c)] |= kSeparator;
  for (char c : kLeetFrom) t[static_cast<unsigned char>(c)] |= kLeet;
  for (char c : kSymbols) t[static_cast<unsigned char>(c)] |= kSymbol;
  return t;
}();

// The classes of c; none for a character beyond ASCII.
inline constexpr std::uint8_t classes(char32_t c) noexcept { return c < 0x80 ? kClasses[c] : 0; }
inline constexpr bool is_letter(char32_t c) noexcept { return classes(c) & kLetter; }
inline constexpr bool is_separator(char32_t c) noexcept { return classes(c) & kSeparator; }
inline constexpr bool is_symbol(char32_t c) noexcept { return classes(c) & kSymbol; }
// Every byte of a character beyond ASCII separates words. (A table of all 256 bytes:
// the whole-word test asks this of every byte around a hit.)
TARNWHISK_ASCII_TABLE std::array<bool, 256> kWordBytes = [] {
  std::array<bool, 256> t{};
  for (unsigned c = 0; c < 128; ++c) t[c] = kClasses[c] & kWordByte;
  return t;
}();
inline constexpr bool is_word_byte(unsigned char b) noexcept { return kWordBytes[b]; }

// Casefold: A to Z become a to z.
inline constexpr char32_t lower(char32_t c) noexcept { return is_upper(c) ? c + ('a' - 'A') : c; }
// Leetspeak: the letter c stands for, or c.
inline constexpr char32_t leet(char32_t c) noexcept {
  if (!(classes(c) & kLeet)) return c;
  return static_cast<unsigned char>(kLeetTo[kLeetFrom.find(static_cast<char>(c))]);
}

// Casefold, then leetspeak, of every ASCII byte: what Basic makes of it.
TARNWHISK_ASCII_TABLE std::array<char, 128> kFold = [] {
  std::array<char, 128> t{};
  for (char32_t c = 0; c < 128; ++c) t[c] = static_cast<char>(leet(lower(c)));
  return t;
}();

// Whether exactly the ASCII bytes for which `pred` holds have class `cls`.
template <class Pred>
constexpr bool class_is(std::uint8_t cls, Pred pred) {
  for (unsigned c = 0; c < 128; ++c)
    if (static_cast<bool>(kClasses[c] & cls) != static_cast<bool>(pred(static_cast<char>(c)))) return false;
  return true;
}

#undef TARNWHISK_ASCII_TABLE

}  // namespace tarnwhisk::ascii
