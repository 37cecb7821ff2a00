// A deliberately naive normalisation to hold the fast one keep honest: the text is
// decoded into a list of (code point, source range) pairs, each stage is a plain loop
// over that list with its table written out again here, and the stages run one after
// another. Only NFKC borrows the library's table, which tools/check_nfkc.py checks
// against the Unicode character database on every scalar value.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "normalize/stages.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk::reference {

struct Char {
  char32_t cp;
  SourceRange entry;
  std::uint8_t flags = 0;

  bool operator==(const Char&) const = default;
};
using Chars = std::vector<Char>;

// Pairs each character of nt.text (an ill-formed byte counts as one U+FFFD) with its entry.
inline Chars decode(const NormalizedText& nt) {
  Chars out;
  std::size_t k = 0;
  for (std::size_t i = 0; i < nt.text.size(); ++k) {
    const std::size_t len = utf8::char_len(nt.text, i);
    out.push_back({utf8::decode(nt.text, i, len), nt.offsets.at(k), nt.flags.empty() ? std::uint8_t{0} : nt.flags.at(k)});
    i += len;
  }
  return out;
}

inline NormalizedText encode(const Chars& chars) {
  NormalizedText out;
  for (const Char& c : chars) {
    utf8::encode(c.cp, out.text);
    out.offsets.push_back(c.entry);
    out.flags.push_back(c.flags);
  }
  return out;
}

inline Chars strip_bidi(const Chars& in) {
  static const std::u32string kRemoved = {
      0x00A0, 0x2007, 0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0x202A, 0x202B,
      0x202C, 0x202D, 0x202E, 0x202F, 0x2066, 0x2067, 0x2068, 0x2069, 0xFEFF};
  Chars out;
  for (const Char& c : in)
    if (kRemoved.find(c.cp) == std::u32string::npos) out.push_back(c);
  return out;
}

inline Chars nfkc(const Chars& in) {
  Chars out;
  for (const Char& c : in) {
    const nfkc::Form f = tarnwhisk::nfkc::form(c.cp);
    if (f.len == 0) out.push_back(c);
    for (std::size_t j = 0; j < f.len; ++j) out.push_back({f.chars[j], c.entry, c.flags});
  }
  return out;
}

inline Chars casefold(Chars in) {
  for (Char& c : in)
    if (c.cp >= U'A' && c.cp <= U'Z') c.cp += 32;
  return in;
}

inline Chars homoglyph(Chars in) {
  struct Row {
    char32_t to;
    std::u32string from;
  };
  static const Row kRows[] = {
      {U'a', U"\u00E0\u00E1\u00E2\u00E3\u00E4\u00E5\u03B1\u0410\u0430"},
      {U'b', U"\u03B2\u0412\u0432"},
      {U'c', U"\u00E7\u0421\u0441"},
      {U'e', U"\u00E8\u00E9\u00EA\u00EB\u03B5\u0415\u0435"},
      {U'h', U"\u041D\u043D"},
      {U'i', U"\u00EC\u00ED\u00EE\u00EF\u03B9\u0456"},
      {U'j', U"\u0458"},
      {U'k', U"\u03BA\u041A\u043A"},
      {U'm', U"\u041C\u043C"},
      {U'n', U"\u00F1"},
      {U'o', U"\u00F2\u00F3\u00F4\u00F5\u00F6\u03BF\u041E\u043E"},
      {U'p', U"\u03C1\u0420\u0440"},
      {U's', U"\u0455"},
      {U't', U"\u03C4\u0422\u0442"},
      {U'u', U"\u00F9\u00FA\u00FB\u00FC\u03BC\u03C5"},
      {U'v', U"\u03BD"},
      {U'w', U"\u03C9\u0461"},
      {U'x', U"\u03C7\u0425\u0445"},
      {U'y', U"\u03B3\u0423\u0443"},
  };
  for (Char& c : in)
    for (const Row& r : kRows)
      if (r.from.find(c.cp) != std::u32string::npos) c.cp = r.to;
  return in;
}

inline Chars leetspeak(Chars in) {
  static const std::u32string kFrom = U"!$01345789@";
  static const std::u32string kTo = U"isoieastbga";
  for (Char& c : in) {
    const std::size_t p = kFrom.find(c.cp);
    if (p == std::u32string::npos) continue;
    if (c.cp == U'!' || c.cp == U'$' || c.cp == U'@') c.flags |= kSymbolFirst | kSymbolLast;
    c.cp = kTo[p];
  }
  return in;
}

inline Chars collapse(const Chars& in) {
  Chars out;
  for (std::size_t i = 0; i < in.size();) {
    std::size_t j = i;
    while (j < in.size() && in[j].cp == in[i].cp) ++j;
    if (j - i >= 3) {
      // The run's first character tells of its start, the last of its end.
      const std::uint8_t flags = static_cast<std::uint8_t>((in[i].flags & kSymbolFirst) | (in[j - 1].flags & kSymbolLast));
      out.push_back({in[i].cp, {in[i].entry.start, in[j - 1].entry.end}, flags});
    } else {
      for (std::size_t r = i; r < j; ++r) out.push_back(in[r]);
    }
    i = j;
  }
  return out;
}

inline bool is_separator(char32_t c) {
  return std::u32string_view(U"\t *,-./:;\\_|").find(c) != std::u32string_view::npos;
}
inline bool is_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }

inline Chars separators(const Chars& in) {
  Chars out;
  for (std::size_t i = 0; i < in.size();) {
    if (!is_separator(in[i].cp)) {
      out.push_back(in[i++]);
      continue;
    }
    std::size_t k = i;
    while (k < in.size() && is_separator(in[k].cp)) ++k;
    const bool between_letters =
        !out.empty() && is_letter(out.back().cp) && k < in.size() && is_letter(in[k].cp);
    if (between_letters) {
      i = k;
    } else {
      out.push_back(in[i++]);
    }
  }
  return out;
}

// The pipeline of `level`, stage after stage.
inline NormalizedText normalize(std::string_view text, NormalizationLevel level) {
  NormalizedText src;
  src.text.assign(text);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = utf8::char_len(text, i);
    src.offsets.push_back({i, i + len});
    i += len;
  }
  if (level == NormalizationLevel::None) return src;
  Chars c = decode(src);
  c = collapse(leetspeak(homoglyph(casefold(nfkc(strip_bidi(c))))));
  if (level == NormalizationLevel::Aggressive) c = separators(c);
  return encode(c);
}

// Random text made of what the stages care about: the removal set and its neighbours,
// compatibility forms, capitals, look-alikes, leet symbols, separators, combining marks,
// emoji, ill-formed bytes, with runs of equal pieces. `pieces` pieces long.
inline std::string disguised_text(std::mt19937_64& rng, std::size_t pieces) {
  static const char* const kPieces[] = {
      // plain ASCII, capitals, digits, leet symbols, other punctuation, line breaks
      "a", "b", "d", "e", "s", "z", "A", "B", "Q", "Z", "0", "1", "2", "3", "4", "6", "9",
      "!", "$", "@", "+", "'", "#", "~", "\n", "\r",
      // separators
      " ", "\t", "*", ",", "-", ".", "/", ":", ";", "\\", "_", "|",
      // the removal set and neighbours that stay
      "\u00A0", "\u2007", "\u200B", "\u200C", "\u200D", "\u200E", "\u200F", "\u202A",
      "\u202E", "\u202F", "\u2066", "\u2069", "\uFEFF", "\u2008", "\u2009", "\u2060",
      "\u00AD", "\u2010",
      // compatibility forms
      "\uFB01", "\uFF21", "\uFF41", "\U0001D41F", "\u2460", "\u00B2", "\u2122", "\u00BD",
      "\u2026", "\u3000", "\u2002", "\U0001CCD6", "\u212B", "\u0344", "\u00B5", "\u00A8",
      "\uFDFA", "\uFF10", "\uFF0E", "\uFF3F", "\u2474", "\u1E9B",
      // look-alikes and their neighbours
      "\u00E0", "\u00E9", "\u00C9", "\u00E6", "\u00DF", "\u00F1", "\u00FF", "\u03B1",
      "\u03B3", "\u03BC", "\u0391", "\u03B4", "\u0410", "\u0430", "\u0441", "\u043E",
      "\u0440", "\u0436", "\u0461", "\u0455",
      // combining marks, CJK, Hangul, emoji
      "\u0301", "\u0308", "\u65E5", "\uAC00", "\u1100", "\U0001F525", "\u2764",
      // ill-formed bytes: stray continuation, truncated sequences, overlong, surrogate
      "\x80", "\xFF", "\xE2\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF0\x9F", "\xE2"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> repeat(1, 8);
  std::string out;
  for (std::size_t i = 0; i < pieces; ++i) {
    const char* p = kPieces[pick(rng)];
    const int n = rng() % 4 == 0 ? repeat(rng) : 1;  // runs of equal pieces
    for (int r = 0; r < n; ++r) out += p;
  }
  return out;
}

// Mostly-ASCII random text `bytes` long or a little longer, for the paths that take
// ASCII many bytes at a time: words with capitals, digits and leet symbols, runs of
// separators (some longer than any buffer the pipeline stages output in), stretched
// letters, and every `foreign_every` pieces on average (0: never) a piece of
// disguised_text.
inline std::string ascii_heavy_text(std::mt19937_64& rng, std::size_t bytes, std::size_t foreign_every) {
  static const char kWordChars[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzABCXYZ0123456789!$@";
  static const char* const kGaps[] = {" ", " ", " ", ", ", ". ", "\n", "'", "-", " - ", "\t", "2", "\"", "..", "_|_"};
  std::string out;
  while (out.size() < bytes) {
    const std::uint64_t r = rng() % 1000;
    if (foreign_every != 0 && rng() % foreign_every == 0) {
      out += disguised_text(rng, 1);
    } else if (r < 5) {  // a long separator run that collapse leaves alone
      const std::size_t n = 1 + rng() % 1500;
      for (std::size_t k = 0; k < n; ++k) out += (k % 2 ? '.' : '-');
    } else if (r < 10) {  // a long stretched letter or separator
      out.append(1 + rng() % 1200, "aZ. !"[rng() % 5]);
    } else if (r < 60) {
      out.append(1 + rng() % 6, kWordChars[rng() % (sizeof kWordChars - 1)]);
    } else if (r < 700) {
      const std::size_t n = 1 + rng() % 12;
      for (std::size_t k = 0; k < n; ++k) out += kWordChars[rng() % 52];
    } else {
      out += kGaps[rng() % std::size(kGaps)];
    }
  }
  return out;
}

}  // namespace tarnwhisk::reference
