// The whole pipeline in one pass, because normalisation runs on every call and
// dominates its cost. It is built from the stages' own per-character rules; only the
// two stages that look at neighbours (collapse, separators) are restated here, as
// streaming state. normalize_by_stages() is the definition; tests hold the two equal.
#include <array>
#include <cstring>

#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// casefold, homoglyph and leetspeak applied to one character (after NFKC).
const std::array<char, 128> kAsciiFold = [] {
  std::array<char, 128> t{};
  for (char32_t b = 0; b < 128; ++b) t[b] = static_cast<char>(leetspeak::fold(casefold::fold(b)));
  return t;
}();

inline char32_t fold(char32_t c) noexcept {
  return c < 0x80 ? static_cast<char32_t>(kAsciiFold[c])
                  : leetspeak::fold(homoglyph::fold(casefold::fold(c)));
}

// Receives the characters that leave leetspeak, one at a time, and writes what collapse
// and (if kAggressive) separators make of them. Rather than holding characters back, it
// writes at once and takes back: the second copy of a run when a third arrives, and a
// whole run of separators when a letter follows it.
template <bool kAggressive>
class Writer {
 public:
  explicit Writer(NormalizedText& out) noexcept : text_(out.text), offsets_(out.offsets) {}

  void push(char32_t c, SourceRange e) {
    if (c == run_char_) {
      // The run's last character is always the last one written (separators drop only
      // before a letter, which starts a new run).
      if (++run_len_ == 2) return append(c, e);
      if (run_len_ == collapse::kMinRun) {
        text_.resize(text_.size() - utf8::encoded_len(c));
        offsets_.pop_back();
      }
      offsets_.back().end = e.end;  // merge
      return;
    }
    run_char_ = c;
    run_len_ = 1;
    if constexpr (kAggressive) {
      if (separators::is_separator(c)) {
        if (!in_separators_) {
          in_separators_ = true;
          after_letter_ = last_is_letter_;
          mark_text_ = text_.size();
          mark_offsets_ = offsets_.size();
        }
      } else if (in_separators_) {
        in_separators_ = false;
        if (after_letter_ && separators::is_letter(c)) {
          text_.resize(mark_text_);
          offsets_.resize(mark_offsets_);
        }
      }
      last_is_letter_ = separators::is_letter(c);
    }
    append(c, e);
  }

 private:
  void append(char32_t c, SourceRange e) {
    if (c < 0x80) {
      text_.push_back(static_cast<char>(c));
    } else {
      utf8::encode(c, text_);
    }
    offsets_.push_back(e);
  }

  std::string& text_;
  std::vector<SourceRange>& offsets_;
  char32_t run_char_ = 0xFFFFFFFF;  // no character
  std::size_t run_len_ = 0;
  bool last_is_letter_ = false;
  bool in_separators_ = false;  // the last characters written are separators
  bool after_letter_ = false;   // ... and a letter stands before them
  std::size_t mark_text_ = 0, mark_offsets_ = 0;  // where those separators begin
};

// The index of the first byte >= 0x80, or s.size().
std::size_t first_non_ascii(std::string_view s) noexcept {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// Upper bounds of the output's bytes and characters: what NFKC makes of the text after
// removal, which the later stages only shorten. Reserving them makes one allocation per
// buffer enough.
std::pair<std::size_t, std::size_t> output_bound(std::string_view s) {
  std::size_t i = first_non_ascii(s);
  std::size_t bytes = i, chars = i;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++bytes, ++chars, ++i;
      continue;
    }
    const std::size_t len = utf8::char_len(s, i);
    const char32_t c = utf8::decode(s, i, len);
    i += len;
    if (strip_bidi::removes(c)) continue;
    const nfkc::Form f = nfkc::form(c);
    bytes += f.len ? f.bytes : utf8::encoded_len(c);
    chars += f.len ? f.len : 1;
  }
  return {bytes, chars};
}

template <bool kAggressive>
NormalizedText run(std::string_view s) {
  NormalizedText out;
  const auto [bytes, chars] = output_bound(s);
  out.text.reserve(bytes);
  out.offsets.reserve(chars);
  Writer<kAggressive> w(out);
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      w.push(static_cast<char32_t>(kAsciiFold[b]), {i, i + 1});
      ++i;
      continue;
    }
    const std::size_t len = utf8::char_len(s, i);
    const char32_t c = utf8::decode(s, i, len);  // U+FFFD for an ill-formed byte
    const SourceRange e{i, i + len};
    i += len;
    if (strip_bidi::removes(c)) continue;
    const nfkc::Form f = nfkc::form(c);
    if (f.len == 0) {
      w.push(fold(c), e);
    } else {
      for (std::size_t j = 0; j < f.len; ++j) w.push(fold(f.chars[j]), e);
    }
  }
  return out;
}

}  // namespace

NormalizedText fused_pipeline(std::string_view text, bool aggressive) {
  return aggressive ? run<true>(text) : run<false>(text);
}

}  // namespace tarnwhisk
