// The censor: the masked copy of the caller's text that the filter's censor() returns.
//
// Hits come from find() and meet the usual preconditions (ordered, on character
// boundaries, inside the text), but apply() is public and must stay safe for any list:
// it never reads outside the text and, given well-formed UTF-8, never writes malformed
// UTF-8. Hits are therefore sanitised before use: a hit starting past the end of the
// text or with end < start is skipped, an end past the text is clamped, and a start or
// end inside a character is widened to that character's boundaries, so a partly hit
// character is masked whole rather than cut in two.
#include "tarnwhisk/censor.hpp"

#include <algorithm>
#include <string_view>

#include "utf8.hpp"

namespace tarnwhisk::censor {

namespace {

constexpr std::string_view kGrawlix = "#@$%&!*";
constexpr std::string_view kFullMask = "****";


std::size_t floor_boundary(std::string_view text, std::size_t p) noexcept {
  while (!utf8::is_char_boundary(text, p)) --p;
  return p;
}

std::size_t ceil_boundary(std::string_view text, std::size_t p) noexcept {
  while (!utf8::is_char_boundary(text, p)) ++p;
  return p;
}

// Appends the replacement of text[start, end), both character boundaries.
void mask_span(std::string_view text, std::size_t start, std::size_t end, CensorStyle style,
               char32_t mask, std::string& out) {
  if (style == CensorStyle::FullMask) {
    out.append(kFullMask);
    return;
  }
  std::size_t n = 0;
  std::size_t first_len = 0;
  std::size_t last_start = start;
  for (std::size_t i = start; i < end; ++n) {
    const std::size_t len = utf8::char_len(text, i);
    if (n == 0) first_len = len;
    last_start = i;
    i += len;
  }
  switch (style) {
    case CensorStyle::Grawlix:
      for (std::size_t k = 0; k < n; ++k) out.push_back(kGrawlix[k % kGrawlix.size()]);
      return;
    case CensorStyle::FirstLast:
      if (n >= 3) {
        out.append(text.substr(start, first_len));
        for (std::size_t k = 0; k < n - 2; ++k) utf8::encode(mask, out);
        out.append(text.substr(last_start, end - last_start));
        return;
      }
      break;
    default:
      break;
  }
  for (std::size_t k = 0; k < n; ++k) utf8::encode(mask, out);
}

}  // namespace

std::string apply(std::string_view text, std::span<const Match> hits, CensorStyle style,
                  char32_t mask) {
  std::string out;
  out.reserve(text.size());
  std::size_t c = 0;
  for (const Match& hit : hits) {
    if (hit.start < c || hit.start > text.size() || hit.end < hit.start) continue;
    // c is a boundary at or before hit.start, so widening never reaches back past it.
    const std::size_t start = floor_boundary(text, hit.start);
    const std::size_t end = ceil_boundary(text, std::min(hit.end, text.size()));
    out.append(text.substr(c, start - c));
    mask_span(text, start, end, style, mask, out);
    c = end;
  }
  out.append(text.substr(c));
  return out;
}

}  // namespace tarnwhisk::censor
