// The tables of fused_tables.hpp, computed at start-up from the stages' rules.
#include "normalize/fused_tables.hpp"

#include <algorithm>
#include <string>

#include "utf8.hpp"

namespace tarnwhisk::fused {

const BmpSets kBmp = [] {
  BmpSets t;
  for (std::size_t k = 0; k < nfkc::table::kEntryCount && nfkc::table::kEntries[k].cp < 0x10000; ++k) {
    const nfkc::table::Entry& e = nfkc::table::kEntries[k];
    t.has_form[e.cp] = true;
    t.grows[e.cp] = e.len > 1 || e.bytes > utf8::encoded_len(e.cp);
  }
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    t.removed[c] = strip_bidi::removes(c);
    t.touched[c] = t.removed[c] || t.has_form[c] || homoglyph::fold(c) != c;
  }
  return t;
}();

const std::size_t kMaxFormLen = [] {
  std::size_t m = 1;
  for (std::size_t k = 0; k < nfkc::table::kEntryCount; ++k) m = std::max<std::size_t>(m, nfkc::table::kEntries[k].len);
  return m;
}();


const std::array<char16_t, 0x10000> kBmpResult = [] {
  std::array<char16_t, 0x10000> t{};
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // not characters; never decoded
    if (kBmp.removed[c]) continue;
    char32_t to = c;
    if (kBmp.has_form[c]) {
      const nfkc::Form f = nfkc::form(c);
      if (f.len != 1) continue;
      to = f.chars[0];
    }
    to = fold(to);
    if (to < 0x10000) t[c] = static_cast<char16_t>(to);
  }
  return t;
}();


const std::bitset<0x10000> kBmpSymbol = [] {
  std::bitset<0x10000> t;
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    if (!kBmp.has_form[c] || kBmp.removed[c]) continue;
    const nfkc::Form f = nfkc::form(c);
    t[c] = f.len == 1 && ascii::is_symbol(f.chars[0]);
  }
  return t;
}();


namespace {

// The lead bytes of the characters whose NFKC form is longer than they are, in bytes
// or in characters. Common scripts (accented Latin, Cyrillic, most of Greek) have none.
const std::array<bool, 256> kLeadOfGrower = [] {
  std::array<bool, 256> t{};
  for (std::size_t k = 0; k < nfkc::table::kEntryCount; ++k) {
    const nfkc::table::Entry& e = nfkc::table::kEntries[k];
    if (e.len > 1 || e.bytes > utf8::encoded_len(e.cp)) {
      std::string enc;
      utf8::encode(e.cp, enc);
      t[static_cast<unsigned char>(enc[0])] = true;
    }
  }
  return t;
}();

}  // namespace

std::pair<std::size_t, std::size_t> output_bound(std::string_view s) {
  std::size_t i = skip_ascii(s, 0);
  std::size_t bytes = i, chars = i;
  while (i < s.size()) {
    const std::size_t len = utf8::char_len(s, i);
    ++chars;
    if (len == 1) {
      bytes += 3;  // a stray byte, written as U+FFFD
    } else if (!kLeadOfGrower[static_cast<unsigned char>(s[i])]) {
      bytes += len;
    } else {
      const char32_t c = utf8::decode(s, i, len);
      const nfkc::Form f = (c < 0x10000 ? kBmp.grows[c] : block_has_forms(c)) ? nfkc::form(c) : nfkc::Form{};
      bytes += f.len ? f.bytes : len;
      chars += f.len ? f.len - 1 : 0;
    }
    i += len;
    const std::size_t j = skip_ascii(s, i);
    bytes += j - i;
    chars += j - i;
    i = j;
  }
  return {bytes, chars};
}

}  // namespace tarnwhisk::fused
