// What the per-character stages (strip_bidi, nfkc, casefold, homoglyph, leetspeak)
// make of each character, as tables computed once from the stages' own rules: the
// one-pass normaliser (fused.cpp) looks a character up here instead of running the
// stages on it, one load for almost every character of almost every script.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "ascii.hpp"
#include "normalize/nfkc_table.hpp"
#include "normalize/stages.hpp"

namespace tarnwhisk::fused {

// The tables are defined in fused_tables.cpp and read in the normaliser's inner loop.
// Hidden, so that position-independent code reaches them directly rather than through
// the global offset table (measured: mixed-script text 7-10 % slower that way).
#define TARNWHISK_FUSED_TABLE [[gnu::visibility("hidden")]] extern const

// What the per-character stages do to a character of the Basic Multilingual Plane, as
// bit sets: kTouched marks every character that strip_bidi, nfkc or homoglyph changes
// (casefold and leetspeak touch ASCII only), kRemoved those strip_bidi deletes and
// kHasForm those nfkc replaces, kGrows those whose form is longer than they are, in
// bytes or in characters.
struct BmpSets {
  std::bitset<0x10000> touched, removed, has_form, grows;
};
TARNWHISK_FUSED_TABLE BmpSets kBmp;

// The most characters an NFKC form has.
TARNWHISK_FUSED_TABLE std::size_t kMaxFormLen;

// Whether nfkc changes any character of c's 256-character block.
inline bool block_has_forms(char32_t c) noexcept {
  const std::size_t b = c >> 8;
  return nfkc::table::kBlockStart[b] != nfkc::table::kBlockStart[b + 1];
}

// Outside the BMP only nfkc changes characters, and only in a few 256-character blocks.
inline bool touched(char32_t c) noexcept {
  if (c < 0x10000) return kBmp.touched[c];
  return block_has_forms(c) && nfkc::form(c).len != 0;
}

// The separator and letter classes of separators, for ASCII.
inline std::uint8_t ascii_class(char32_t c) noexcept { return ascii::classes(c); }

// casefold, homoglyph and leetspeak, in that order. casefold changes ASCII only, and
// homoglyph ASCII not at all, so both ASCII stages can run from the one table.
inline char32_t fold(char32_t c) noexcept {
  if (c < 0x80) return static_cast<char32_t>(ascii::kFold[c]);
  const char32_t h = homoglyph::fold(c);
  return h < 0x80 ? static_cast<char32_t>(ascii::kFold[h]) : h;
}

// For every character of the Basic Multilingual Plane, what strip_bidi, nfkc,
// casefold, homoglyph and leetspeak make of it when that is one character of the plane,
// or 0 when strip_bidi removes it or its NFKC form is longer or lies beyond the plane.
// One load for almost every character of almost every script.
TARNWHISK_FUSED_TABLE std::array<char16_t, 0x10000> kBmpResult;

// The flags that leetspeak gives an ASCII character: symbols stand for letters.
constexpr std::array<std::uint8_t, 128> kAsciiFlags = [] {
  std::array<std::uint8_t, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = ascii::is_symbol(b) ? kSymbolFirst | kSymbolLast : 0;
  return t;
}();
inline std::uint8_t symbol_flags(char32_t c) noexcept {
  return ascii::is_symbol(c) ? kSymbolFirst | kSymbolLast : 0;
}

// The characters of the plane whose kBmpResult came from a symbol (a one-character NFKC
// form such as U+FF01).
TARNWHISK_FUSED_TABLE std::bitset<0x10000> kBmpSymbol;

// Upper bounds of the output's bytes and characters: what NFKC makes of the text,
// which the other stages only shorten (homoglyph turns letters of two bytes into one).
std::pair<std::size_t, std::size_t> output_bound(std::string_view s);

#undef TARNWHISK_FUSED_TABLE

}  // namespace tarnwhisk::fused
