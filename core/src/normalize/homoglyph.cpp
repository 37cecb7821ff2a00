// Undoes look-alike letters: accented Latin small letters and the Greek and Cyrillic
// letters that look like Latin ones become the plain ASCII letter, so "сор" written in
// Cyrillic reads "cop" and "càfé" reads "cafe".
#include <array>
#include <utility>

#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::homoglyph {

namespace {

// 67 code points. Greek and Latin letters appear in small form only (capitals have been
// folded or are left alone); Cyrillic in both forms where both look Latin.
constexpr std::pair<char32_t, char> kMap[] = {
    {0x00E0, 'a'}, {0x00E1, 'a'}, {0x00E2, 'a'}, {0x00E3, 'a'}, {0x00E4, 'a'}, {0x00E5, 'a'},
    {0x03B1, 'a'}, {0x0410, 'a'}, {0x0430, 'a'},
    {0x03B2, 'b'}, {0x0412, 'b'}, {0x0432, 'b'},
    {0x00E7, 'c'}, {0x0421, 'c'}, {0x0441, 'c'},
    {0x00E8, 'e'}, {0x00E9, 'e'}, {0x00EA, 'e'}, {0x00EB, 'e'}, {0x03B5, 'e'}, {0x0415, 'e'},
    {0x0435, 'e'},
    {0x041D, 'h'}, {0x043D, 'h'},
    {0x00EC, 'i'}, {0x00ED, 'i'}, {0x00EE, 'i'}, {0x00EF, 'i'}, {0x03B9, 'i'}, {0x0456, 'i'},
    {0x0458, 'j'},
    {0x03BA, 'k'}, {0x041A, 'k'}, {0x043A, 'k'},
    {0x041C, 'm'}, {0x043C, 'm'},
    {0x00F1, 'n'},
    {0x00F2, 'o'}, {0x00F3, 'o'}, {0x00F4, 'o'}, {0x00F5, 'o'}, {0x00F6, 'o'}, {0x03BF, 'o'},
    {0x041E, 'o'}, {0x043E, 'o'},
    {0x03C1, 'p'}, {0x0420, 'p'}, {0x0440, 'p'},
    {0x0455, 's'},
    {0x03C4, 't'}, {0x0422, 't'}, {0x0442, 't'},
    {0x00F9, 'u'}, {0x00FA, 'u'}, {0x00FB, 'u'}, {0x00FC, 'u'}, {0x03BC, 'u'}, {0x03C5, 'u'},
    {0x03BD, 'v'},
    {0x03C9, 'w'}, {0x0461, 'w'},
    {0x03C7, 'x'}, {0x0425, 'x'}, {0x0445, 'x'},
    {0x03B3, 'y'}, {0x0423, 'y'}, {0x0443, 'y'},
};
static_assert(std::size(kMap) == 67);

// Every mapped code point lies in [kFirst, kLast]; a dense array over that range makes
// the lookup one load.
constexpr char32_t kFirst = 0x00E0;
constexpr char32_t kLast = 0x0461;
constexpr auto kDense = [] {
  std::array<char, kLast - kFirst + 1> dense{};
  for (const auto& [from, to] : kMap) dense[from - kFirst] = to;
  return dense;
}();

}  // namespace

char32_t fold(char32_t c) noexcept {
  if (c < kFirst || c > kLast) return c;
  const char to = kDense[c - kFirst];
  return to != 0 ? static_cast<char32_t>(to) : c;
}

NormalizedText apply(NormalizedText in) {
  // One character in, one character out: the offsets pass through as they are.
  NormalizedText out;
  out.text.reserve(in.text.size());
  const std::string_view t = in.text;
  for (std::size_t i = 0; i < t.size();) {
    const std::size_t len = utf8::char_len(t, i);
    utf8::encode(fold(utf8::decode(t, i, len)), out.text);
    i += len;
  }
  out.offsets = std::move(in.offsets);
  out.flags = std::move(in.flags);
  return out;
}

}  // namespace tarnwhisk::homoglyph
