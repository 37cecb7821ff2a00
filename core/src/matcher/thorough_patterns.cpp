#include "matcher/thorough_patterns.hpp"

#include <algorithm>
#include <map>
#include <string>

#include "normalize/thorough.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// Real letters that writers put for another ("dlck", "bltch", "fvck"). The text keeps
// them as they are, so the other letters of the word must still match.
constexpr std::pair<char, char> kStandIns[] = {{'i', 'l'}, {'u', 'v'}};

// The characters of a word that masks may stand for: letters and codes.
constexpr const char* kMaskLetters = "abcdefghijklmnopqrstuvwxyzAFIJNU";

// The most characters of one word that may be written two ways (2^n variants).
constexpr std::size_t kMaxChoicePoints = 4;

}  // namespace

const std::array<Automaton::ByteSet, 256>& thorough_accepts() {
  static const std::array<Automaton::ByteSet, 256> table = [] {
    std::array<Automaton::ByteSet, 256> t{};
    auto add_letter = [](Automaton::ByteSet& set, unsigned char x) {
      set[x] = true;
      for (const thorough::Code& k : thorough::kCodes)
        if (static_cast<unsigned char>(k.first) == x || static_cast<unsigned char>(k.second) == x)
          set[static_cast<unsigned char>(k.code)] = true;
      for (const auto& [letter, stand_in] : kStandIns)
        if (static_cast<unsigned char>(letter) == x) set[static_cast<unsigned char>(stand_in)] = true;
    };
    for (std::size_t c = 0; c < 256; ++c) {
      t[c][c] = true;
      if (c >= 'a' && c <= 'z') {
        add_letter(t[c], static_cast<unsigned char>(c));
      } else if (const std::uint32_t letters = thorough::letters_of(static_cast<unsigned char>(c))) {
        for (unsigned char x = 'a'; x <= 'z'; ++x)
          if (letters & (1u << (x - 'a'))) add_letter(t[c], x);
      }
    }
    return t;
  }();
  return table;
}

ThoroughPatterns thorough_patterns(const std::vector<WordEntry>& entries) {
  ThoroughPatterns out;
  std::map<std::string, std::uint32_t> ids;  // a pattern to its id
  auto add = [&](const std::string& pattern, PatternChoice choice) {
    auto [it, fresh] = ids.emplace(pattern, static_cast<std::uint32_t>(out.patterns.size()));
    if (fresh) {
      out.patterns.push_back(pattern);
      out.choices.by_pattern.emplace_back();
    }
    out.choices.by_pattern[it->second].push_back(std::move(choice));
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const NormalizedText nt = normalize(entries[i].word, NormalizationLevel::Thorough);
    if (nt.text.empty()) continue;
    // The characters of the form. Each f may also be written "ph"; each doubled letter
    // may also be written as two different characters ("he1l": l and a code for i or
    // l), which the text keeps apart, so a word has a variant for each choice.
    std::vector<std::pair<std::size_t, std::size_t>> chars;  // byte start, length
    std::vector<std::size_t> choice_points;
    for (std::size_t b = 0; b < nt.text.size();) {
      const std::size_t len = utf8::char_len(nt.text, b);
      if ((nt.text[b] == 'f' || (nt.flags[chars.size()] & kDoubled)) && choice_points.size() < kMaxChoicePoints)
        choice_points.push_back(chars.size());
      chars.emplace_back(b, len);
      b += len;
    }
    for (std::size_t v = 0; v < (std::size_t{1} << choice_points.size()); ++v) {
      std::string pattern;
      PatternChoice choice{static_cast<std::uint32_t>(i), {}};
      std::uint32_t position = 0;  // characters of an occurrence so far
      for (std::size_t k = 0; k < chars.size(); ++k) {
        const auto [b, len] = chars[k];
        bool other = false;  // this character's second way
        for (std::size_t p = 0; p < choice_points.size(); ++p) other = other || (choice_points[p] == k && (v >> p & 1));
        const bool doubled = (nt.flags[k] & kDoubled) != 0;
        if (other && !doubled) {  // f as "ph"
          pattern += "ph";
          position += 2;
          continue;
        }
        if (other) {  // a double letter as two characters
          pattern.append(nt.text, b, len);
          pattern.append(nt.text, b, len);
          position += 2;
          continue;
        }
        if (doubled) choice.doubled.push_back(position);
        pattern.append(nt.text, b, len);
        ++position;
      }
      add(pattern, choice);
    }
    // Masks: a word of letters may be written with "*" for a stretch of its inner
    // letters; such tokens are matched apart from the automaton (see ScanStream), against
    // the word's letters with each doubled one written twice.
    if (nt.text.find_first_not_of(kMaskLetters) == std::string::npos && chars.size() >= 2) {
      std::string letters;
      for (std::size_t k = 0; k < chars.size(); ++k) {
        letters += nt.text[k];
        if (nt.flags[k] & kDoubled) letters += nt.text[k];
      }
      out.choices.max_mask_word = std::max(out.choices.max_mask_word, letters.size());
      out.choices.mask_words.emplace_back(static_cast<std::uint32_t>(i), std::move(letters));
    }
  }
  return out;
}

}  // namespace tarnwhisk
