// (placeholder until the censor is written)
#include "tarnwhisk/censor.hpp"

#include "utf8.hpp"

namespace tarnwhisk::censor {

std::string apply(std::string_view text, std::span<const Match> hits, CensorStyle, char32_t mask) {
  std::string out;
  std::size_t c = 0;
  for (const Match& m : hits) {
    if (m.start < c || m.end > text.size() || m.end < m.start) continue;
    out.append(text.substr(c, m.start - c));
    for (std::size_t n = utf8::count_chars(text.substr(m.start, m.end - m.start)); n > 0; --n) utf8::encode(mask, out);
    c = m.end;
  }
  out.append(text.substr(c));
  return out;
}

}  // namespace tarnwhisk::censor
