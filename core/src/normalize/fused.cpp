// The whole pipeline in one pass, because normalisation runs on every call and
// dominates its cost. It is built from the stages' own per-character rules; only the
// two stages that look at neighbours (collapse, separators) are restated here, as
// streaming state. normalize_by_stages() is the definition; tests hold the two equal.
#include <array>
#include <bitset>
#include <cstring>

#include "normalize/nfkc_table.hpp"
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// casefold and leetspeak on ASCII (homoglyph and NFKC leave ASCII alone).
const std::array<char, 128> kAsciiFold = [] {
  std::array<char, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = static_cast<char>(leetspeak::fold(casefold::fold(b)));
  return t;
}();

// What the per-character stages do to a character of the Basic Multilingual Plane, as
// bit sets: kTouched marks every character that strip_bidi, nfkc or homoglyph changes
// (casefold and leetspeak touch ASCII only), kRemoved those strip_bidi deletes and
// kHasForm those nfkc replaces, kGrows those whose form is longer than they are, in
// bytes or in characters.
struct BmpSets {
  std::bitset<0x10000> touched, removed, has_form, grows;
};
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
enum : std::uint8_t { kSeparator = 1, kLetter = 2 };
const std::array<std::uint8_t, 128> kAsciiClass = [] {
  std::array<std::uint8_t, 128> t{};
  for (char32_t b = 0; b < 128; ++b)
    t[b] = (separators::is_separator(b) ? kSeparator : 0) | (separators::is_letter(b) ? kLetter : 0);
  return t;
}();
inline std::uint8_t ascii_class(char32_t c) noexcept { return c < 0x80 ? kAsciiClass[c] : 0; }

// casefold, homoglyph and leetspeak, in that order. casefold changes ASCII only, and
// homoglyph ASCII not at all, so both ASCII stages can run from the one table.
inline char32_t fold(char32_t c) noexcept {
  if (c < 0x80) return static_cast<char32_t>(kAsciiFold[c]);
  const char32_t h = homoglyph::fold(c);
  return h < 0x80 ? static_cast<char32_t>(kAsciiFold[h]) : h;
}

// Writes the UTF-8 form of the scalar value c (>= 0x80) at p; returns the end.
inline char* put_utf8(char32_t c, char* p) noexcept {
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

// Receives the characters that leave leetspeak, one at a time, and writes what collapse
// and (if kAggressive) separators make of them into buffers sized beforehand. Rather
// than holding characters back, it writes at once and takes back: the second copy of a
// run when a third arrives, and a run of separators when a letter follows it. Every
// separator is ASCII, so a run of them is as many bytes as characters.
template <bool kAggressive>
class Writer {
 public:
  Writer(char* text, SourceRange* offsets) noexcept : t_(text), o_(offsets) {}
  char* text_end() const noexcept { return t_; }
  SourceRange* offsets_end() const noexcept { return o_; }

  [[gnu::always_inline]] void push(char32_t c, SourceRange e) {
    if (c == run_char_) [[unlikely]] {
      repeat(c, e);
      return;
    }
    run_char_ = c;
    run_len_ = 1;
    if constexpr (kAggressive) {
      const std::uint8_t cls = ascii_class(c);
      if (!(cls & kSeparator)) {
        if (cls & kLetter) {  // the pending separators stand between two letters
          t_ -= pending_;
          o_ -= pending_;
        }
        pending_ = 0;
      } else if (pending_ != 0 || (!in_separators_ && last_is_letter_)) {
        ++pending_;
      }
      in_separators_ = cls & kSeparator;
      last_is_letter_ = cls & kLetter;
    }
    append(c, e);
  }

  // push() for each character of src[i, n) up to the first non-ASCII byte; returns the
  // index of that byte (or n). The same steps as push(), specialised for ASCII, the
  // common case, so that the state stays in registers and letters take the first branch.
  std::size_t push_ascii(const char* src, std::size_t i, std::size_t n) noexcept {
    char* t = t_;
    SourceRange* o = o_;
    char32_t run_char = run_char_;
    std::size_t pending = pending_;
    bool in_separators = in_separators_, last_is_letter = last_is_letter_;
    for (; i < n; ++i) {
      const auto b = static_cast<unsigned char>(src[i]);
      if (b >= 0x80) break;
      const auto c = static_cast<unsigned char>(kAsciiFold[b]);
      if (c == run_char) [[unlikely]] {
        t_ = t, o_ = o, pending_ = pending;
        repeat(c, {i, i + 1});
        t = t_, o = o_, pending = pending_;
        continue;
      }
      run_char = c;
      run_len_ = 1;
      if constexpr (kAggressive) {
        const std::uint8_t cls = kAsciiClass[c];
        if (cls & kLetter) [[likely]] {
          t -= pending;
          o -= pending;
          pending = 0;
          in_separators = false;
          last_is_letter = true;
        } else if (cls & kSeparator) {
          pending += pending != 0 || (!in_separators && last_is_letter);
          in_separators = true;
          last_is_letter = false;
        } else {
          pending = 0;
          in_separators = false;
          last_is_letter = false;
        }
      }
      *t++ = static_cast<char>(c);
      *o++ = {i, i + 1};
    }
    t_ = t;
    o_ = o;
    run_char_ = run_char;
    pending_ = pending;
    in_separators_ = in_separators;
    last_is_letter_ = last_is_letter;
    return i;
  }

 private:
  // c equals the character of the current run, whose last copy is the last character
  // written (separators are taken back only before a letter, which starts a new run).
  void repeat(char32_t c, SourceRange e) noexcept {
    if (++run_len_ == 2) {
      append(c, e);
      if (pending_ != 0) ++pending_;  // a second separator in a run that may be dropped
      return;
    }
    if (run_len_ == collapse::kMinRun) {
      t_ -= utf8::encoded_len(c);
      --o_;
      if (pending_ != 0) --pending_;
    }
    o_[-1].end = e.end;  // merge
  }

  [[gnu::always_inline]] void append(char32_t c, SourceRange e) {
    if (c < 0x80) [[likely]] {
      *t_++ = static_cast<char>(c);
    } else {
      t_ = put_utf8(c, t_);
    }
    *o_++ = e;
  }

  char* t_;
  SourceRange* o_;
  char32_t run_char_ = 0xFFFFFFFF;  // no character
  std::size_t run_len_ = 0;
  // separators: the last character written is one of a run of separators, and the last
  // before that run is a letter; `pending_` of that run are written and will be taken
  // back if a letter follows (0 if the run does not follow a letter).
  bool in_separators_ = false;
  bool last_is_letter_ = false;
  std::size_t pending_ = 0;
};

// The index of the first byte >= 0x80 at or after i, or s.size().
std::size_t skip_ascii(std::string_view s, std::size_t i) noexcept {
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

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

// Upper bounds of the output's bytes and characters: what NFKC makes of the text,
// which the other stages only shorten (homoglyph turns letters of two bytes into one).
// Sizing the buffers by them makes one allocation per buffer enough.
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

template <bool kAggressive>
NormalizedText run(std::string_view s) {
  NormalizedText out;
  const auto [bytes, chars] = output_bound(s);
  out.text.resize(bytes);
  out.offsets.resize(chars);
  Writer<kAggressive> w(out.text.data(), out.offsets.data());
  const char* const src = s.data();
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b < 0x80) [[likely]] {
      i = w.push_ascii(src, i, n);
      continue;
    }
    const std::size_t len = utf8::char_len(s, i);
    const char32_t c = utf8::decode(s, i, len);  // U+FFFD for a stray byte
    const SourceRange e{i, i + len};
    i += len;
    if (!touched(c)) {
      w.push(c, e);
    } else if (c >= 0x10000 || kBmp.has_form[c]) {
      if (c < 0x10000 && kBmp.removed[c]) continue;
      const nfkc::Form f = nfkc::form(c);
      for (std::size_t j = 0; j < f.len; ++j) w.push(fold(f.chars[j]), e);
    } else if (!kBmp.removed[c]) {
      w.push(fold(c), e);
    }
  }
  out.text.resize(static_cast<std::size_t>(w.text_end() - out.text.data()));
  out.offsets.resize(static_cast<std::size_t>(w.offsets_end() - out.offsets.data()));
  return out;
}

}  // namespace

NormalizedText fused_pipeline(std::string_view text, bool aggressive) {
  return aggressive ? run<true>(text) : run<false>(text);
}

}  // namespace tarnwhisk
