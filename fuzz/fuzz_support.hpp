// What the harnesses share: one input format that hand-written seeds can follow, the
// checks of the offset-map invariants, and the references that the fast code is compared
// with (the span rule and the censor here; the matcher and the allowlist are the unit
// tests' own, in core/tests/reference). A failed check prints what broke and aborts, which libFuzzer reports as
// a crash and saves as a reproducer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "reference/literal_allowlist.hpp"
#include "reference/naive_matcher.hpp"
#include "tarnwhisk/tarnwhisk.hpp"
#include "utf8.hpp"

#define TW_CHECK(cond, ...)                                                   \
  do {                                                                        \
    if (!(cond)) {                                                            \
      std::fprintf(stderr, "check failed at %s:%d: %s\n  ", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, __VA_ARGS__);                                      \
      std::fprintf(stderr, "\n");                                             \
      std::abort();                                                           \
    }                                                                         \
  } while (0)

namespace tarnwhisk::fuzz {

// The input format. Byte 0 and byte 1 pick options (see Options). The rest is split at
// NUL bytes into at most kMaxSegments segments followed by the text, which is everything
// after the last separator looked at (so the text may hold NULs once the segments are
// used up). A segment's first byte says what it is:
//   0x01 strict word, 0x02 allowlist term, 0x03 removed word, anything else a word
//   (whole segment, that byte included).
// Byte 1, bit 0x40, makes the filter cut the text into pieces of a few bytes.
// Example seed: printf '\x01\x00hell\0\x01ass\0\x02hello\0she said hello to hell'
inline constexpr std::size_t kMaxSegments = 24;

struct Options {
  MatchMode mode = MatchMode::WordBoundary;
  NormalizationLevel level = NormalizationLevel::Basic;
  CensorStyle style = CensorStyle::LengthPreserving;
  char32_t mask = U'*';
  bool bundled = false;     // load a built-in list too
  Language language = Language::En;
  bool prefilter = true;
  bool scorer = false;
  std::size_t piece_bytes = 0;  // 0: the builder's default
};

// Masks worth trying: ASCII, two-, three- and four-byte characters, and values that are
// not scalar values (the censor writes U+FFFD for them).
inline constexpr char32_t kMasks[] = {U'*', U'#', 0xE9, 0x2588, 0x1F600, 0xD800, 0x110000, 0};

struct Case {
  Options options;
  std::vector<WordEntry> words;
  std::vector<std::string> allowlist;
  std::vector<std::string> removed;
  std::string text;
};

inline Case parse(const std::uint8_t* data, std::size_t size) {
  Case c;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() >= 1) {
    const std::uint8_t b = static_cast<std::uint8_t>(in[0]);
    c.options.mode = static_cast<MatchMode>(b & 1);
    c.options.level = static_cast<NormalizationLevel>((b >> 1) & 3);
    c.options.style = static_cast<CensorStyle>((b >> 3) & 3);
    c.options.mask = kMasks[(b >> 5) & 7];
    in.remove_prefix(1);
  }
  if (in.size() >= 1) {
    const std::uint8_t b = static_cast<std::uint8_t>(in[0]);
    c.options.bundled = (b & 1) != 0;
    c.options.language = static_cast<Language>(((b >> 1) & 7) % 5);
    c.options.prefilter = (b & 0x10) == 0;
    c.options.scorer = (b & 0x20) != 0;
    // Tiny pieces, so that even short texts are cut wherever the filter may cut them.
    if (b & 0x40) c.options.piece_bytes = 1 + (b & 0x80 ? 7 : 0) + in.size() % 8;
    in.remove_prefix(1);
  }
  for (std::size_t k = 0; k < kMaxSegments; ++k) {
    const std::size_t nul = in.find('\0');
    if (nul == std::string_view::npos) break;
    std::string_view seg = in.substr(0, nul);
    in.remove_prefix(nul + 1);
    const char tag = seg.empty() ? '\0' : seg[0];
    if (tag == 0x01) {
      c.words.push_back({std::string(seg.substr(1)), Category::Slur, 3, true});
    } else if (tag == 0x02) {
      c.allowlist.emplace_back(seg.substr(1));
    } else if (tag == 0x03) {
      c.removed.emplace_back(seg.substr(1));
    } else {
      c.words.push_back({std::string(seg), static_cast<Category>(seg.size() % 5),
                         static_cast<std::uint8_t>(seg.size()), false});
    }
  }
  c.text.assign(in);
  return c;
}

// The builder that a case describes: options, words, allowlist and removals. The scorer
// and the piece size are left to the harness.
inline TarnwhiskBuilder builder_for(const Case& c) {
  TarnwhiskBuilder builder;
  builder.normalization(c.options.level).match_mode(c.options.mode).censor_style(c.options.style);
  builder.mask_char(c.options.mask);
  if (c.options.bundled) builder.language(c.options.language);
  else builder.without_bundled(true);
  builder.add_words(c.words).allowlist(c.allowlist).remove_words(c.removed);
  MatcherOptions mo;
  mo.prefilter = c.options.prefilter;
  builder.matcher_options(mo);
  return builder;
}

// Strict UTF-8 validity (RFC 3629): what valid input must turn into.
inline bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = utf8::char_len(s, i);
    if (len == 1 && static_cast<unsigned char>(s[i]) >= 0x80) return false;
    i += len;
  }
  return true;
}

// is_boundary[b] for b in [0, s.size()]: whether a character of `s`, as the core walks
// it, starts (or the text ends) at byte b.
inline std::vector<bool> boundaries(std::string_view s) {
  std::vector<bool> out(s.size() + 1, false);
  for (std::size_t i = 0; i < s.size(); i += utf8::char_len(s, i)) out[i] = true;
  out[s.size()] = true;
  return out;
}

// The invariants of an offset map made from `source`.
inline void check_offsets(std::string_view source, const NormalizedText& nt, const std::vector<bool>& src_bounds,
                          const char* where) {
  const std::size_t chars = utf8::count_chars(nt.text);
  TW_CHECK(nt.offsets.size() == chars, "%s: %zu offsets for %zu characters", where, nt.offsets.size(), chars);
  std::size_t prev = 0;
  for (std::size_t k = 0; k < nt.offsets.size(); ++k) {
    const SourceRange r = nt.offsets[k];
    TW_CHECK(r.start < r.end, "%s: entry %zu is (%zu, %zu)", where, k, r.start, r.end);
    TW_CHECK(r.end <= source.size(), "%s: entry %zu (%zu, %zu) beyond source of %zu bytes", where, k, r.start,
             r.end, source.size());
    TW_CHECK(src_bounds[r.start] && src_bounds[r.end], "%s: entry %zu (%zu, %zu) off a character boundary",
             where, k, r.start, r.end);
    TW_CHECK(r.start >= prev, "%s: entry %zu starts at %zu before %zu", where, k, r.start, prev);
    prev = r.start;
  }
}

// source_span written as the rule reads, character by character from the beginning.
inline std::pair<std::size_t, std::size_t> reference_span(const NormalizedText& nt, std::size_t start,
                                                          std::size_t end) {
  if (nt.text.empty()) return {start, end};
  std::size_t lo = std::numeric_limits<std::size_t>::max(), hi = 0;
  bool found = false;
  std::size_t k = 0;
  for (std::size_t cs = 0; cs < nt.text.size(); ++k) {
    const std::size_t ce = cs + utf8::char_len(nt.text, cs);
    if (cs >= start && ce <= end) {
      lo = std::min(lo, nt.offsets[k].start);
      hi = std::max(hi, nt.offsets[k].end);
      found = true;
      if (ce >= end) return {lo, hi};
    } else if (ce >= end) {
      break;
    }
    cs = ce;
  }
  return found ? std::pair{lo, hi} : std::pair{start, end};
}

inline std::vector<std::string> patterns_of(const std::vector<WordEntry>& entries) {
  std::vector<std::string> out;
  out.reserve(entries.size());
  for (const auto& e : entries) out.push_back(normalize(e.word, NormalizationLevel::Basic).text);
  return out;
}

inline constexpr std::string_view kGrawlix = "#@$%&!*";

// The censor for hits that keep its preconditions (on boundaries, inside the text,
// start <= end, starts non-decreasing).
inline std::string reference_censor(std::string_view text, const std::vector<Match>& hits, CensorStyle style,
                                    char32_t mask) {
  std::string out;
  std::size_t c = 0;
  for (const Match& h : hits) {
    if (h.start < c) continue;
    out.append(text.substr(c, h.start - c));
    const std::string_view w = text.substr(h.start, h.end - h.start);
    std::vector<std::string_view> chars;
    for (std::size_t i = 0; i < w.size();) {
      const std::size_t len = utf8::char_len(w, i);
      chars.push_back(w.substr(i, len));
      i += len;
    }
    const std::size_t n = chars.size();
    switch (style) {
      case CensorStyle::LengthPreserving:
        for (std::size_t k = 0; k < n; ++k) utf8::encode(mask, out);
        break;
      case CensorStyle::FirstLast:
        if (n >= 3) {
          out.append(chars.front());
          for (std::size_t k = 0; k + 2 < n; ++k) utf8::encode(mask, out);
          out.append(chars.back());
        } else {
          for (std::size_t k = 0; k < n; ++k) utf8::encode(mask, out);
        }
        break;
      case CensorStyle::FullMask:
        out.append("****");
        break;
      case CensorStyle::Grawlix:
        for (std::size_t k = 0; k < n; ++k) out.push_back(kGrawlix[k % kGrawlix.size()]);
        break;
    }
    c = h.end;
  }
  out.append(text.substr(c));
  return out;
}

}  // namespace tarnwhisk::fuzz
