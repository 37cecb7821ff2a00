// Masking hits in the caller's text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

// How a hit of n characters is masked.
enum class CensorStyle : std::uint8_t {
  LengthPreserving = 0,  // the mask character n times
  FirstLast = 1,         // first character, mask n - 2 times, last character (n >= 3)
  FullMask = 2,          // always "****"
  Grawlix = 3,           // n characters of the cycle "#@$%&!*", restarted for every hit
};

// The mask character used when none is configured.
inline constexpr char32_t kDefaultMaskChar = U'*';

namespace censor {

// `text` with every hit replaced by its mask, everything else copied unchanged. Hits are
// applied in list order; a hit whose `start` lies before the end of the previous masked
// hit is skipped. Never reads outside `text` and, for well-formed `text`, never writes
// malformed UTF-8, whatever the hits: a hit with end < start or starting past the end of
// the text is skipped, an end past the text is clamped to it, and a start or end inside
// a character is widened to that character's start or end, so a partly hit character
// is masked whole (an empty hit inside a character masks that character). `mask` must
// be a Unicode scalar value (anything else writes U+FFFD).
std::string apply(std::string_view text, std::span<const Match> hits, CensorStyle style,
                  char32_t mask);

}  // namespace censor
}  // namespace tarnwhisk
