// Seeded generators of benchmark input: English-like prose drawn from Debian's word list
// (wamerican), with chosen words sprinkled in, and text with a given share of non-ASCII
// characters. The same seed gives the same text on every machine with the same list.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwhisk::bench {

// Lower-case ASCII words of /usr/share/dict/american-english (no proper nouns, no
// possessives), in file order.
inline const std::vector<std::string>& dictionary_words() {
  static const std::vector<std::string> words = [] {
    std::ifstream in("/usr/share/dict/american-english");
    if (!in) throw std::runtime_error("install Debian's wamerican for /usr/share/dict/american-english");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      bool plain = !line.empty();
      for (char c : line) plain = plain && c >= 'a' && c <= 'z';
      if (plain) out.push_back(line);
    }
    return out;
  }();
  return words;
}

// A stand-in for a word list of `n` entries with the shape of a profanity list: mostly
// single words of 3 to 12 letters, about a third two-word phrases.
inline std::vector<std::string> stand_in_patterns(std::size_t n, std::uint64_t seed = 7) {
  const auto& dict = dictionary_words();
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> pick(0, dict.size() - 1);
  auto word = [&] {
    for (;;) {
      const std::string& w = dict[pick(rng)];
      if (w.size() >= 3 && w.size() <= 12) return w;
    }
  };
  std::vector<std::string> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(i % 3 == 2 ? word() + " " + word() : word());
  return out;
}

// About `bytes` bytes of English-like prose: sentences of common and dictionary words with
// capitals and punctuation. If `sprinkle` is not empty, about one word in `every` is taken
// from it.
inline std::string prose(std::size_t bytes, std::span<const std::string> sprinkle = {},
                         std::size_t every = 200, std::uint64_t seed = 42) {
  static const char* const kCommon[] = {
      "the", "of", "and", "to", "a", "in", "is", "it", "that", "was", "for", "on", "with",
      "as", "he", "she", "they", "be", "at", "by", "this", "have", "from", "or", "had", "not",
      "but", "what", "all", "were", "when", "we", "there", "can", "an", "your", "which",
      "their", "said", "if", "do", "will", "each", "about", "how", "up", "out", "them"};
  const auto& dict = dictionary_words();
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> pick_dict(0, dict.size() - 1);
  std::uniform_int_distribution<std::size_t> pick_common(0, std::size(kCommon) - 1);
  std::uniform_int_distribution<std::size_t> pick_sprinkle(0, sprinkle.empty() ? 0 : sprinkle.size() - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string out;
  out.reserve(bytes + 64);
  std::size_t in_sentence = 0;
  while (out.size() < bytes) {
    std::string w;
    if (!sprinkle.empty() && every > 0 && rng() % every == 0) {
      w = sprinkle[pick_sprinkle(rng)];
    } else if (percent(rng) < 55) {
      w = kCommon[pick_common(rng)];
    } else {
      w = dict[pick_dict(rng)];
    }
    if (in_sentence == 0 && !w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 'a' + 'A');
    out += w;
    ++in_sentence;
    const int r = percent(rng);
    if (in_sentence > 6 && r < 12) {
      out += ". ";
      in_sentence = 0;
    } else if (r < 18) {
      out += ", ";
    } else {
      out += ' ';
    }
  }
  return out;
}

// About `bytes` bytes of prose in which roughly `non_ascii_share` of the characters are
// non-ASCII: Cyrillic, accented Latin, full-width letters and emoji.
inline std::string mixed_text(std::size_t bytes, double non_ascii_share, std::uint64_t seed = 43) {
  static const char* const kForeign[] = {
      "\xD0\xB0", "\xD0\xBE", "\xD1\x81", "\xD0\xB6", "\xD0\x9F",   // Cyrillic а о с ж П
      "\xC3\xA9", "\xC3\xA0", "\xC3\xBC", "\xC3\xB1", "\xC3\x9F",   // é à ü ñ ß
      "\xEF\xBD\x81", "\xEF\xBD\x82", "\xEF\xBC\xA3",               // ａ ｂ Ｃ
      "\xF0\x9F\x98\x80", "\xF0\x9F\x94\xA5", "\xE2\x9D\xA4"};      // 😀 🔥 ❤
  const std::string base = prose(bytes, {}, 0, seed);
  std::mt19937_64 rng(seed + 1);
  std::uniform_real_distribution<double> coin(0.0, 1.0);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kForeign) - 1);
  std::string out;
  out.reserve(bytes * 2);
  for (char c : base) {
    if (out.size() >= bytes) break;
    if (c != ' ' && coin(rng) < non_ascii_share) {
      out += kForeign[pick(rng)];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace tarnwhisk::bench
