// How words become patterns at the thorough level: each word in its thorough form, each
// of its letters accepting every way the text may write that letter (a code for two
// letters, a real letter that writers put for it), "ph" for f as a second pattern, and
// its doubled letters as requirements checked where an occurrence is found.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "matcher/automaton.hpp"
#include "tarnwhisk/data.hpp"

namespace tarnwhisk {

// One entry that a pattern stands for, with the characters of an occurrence (counted
// from its start) that must stand for a run of two or more: a word's double letter.
struct PatternChoice {
  std::uint32_t entry;
  std::vector<std::uint32_t> doubled;
  // The single letters: a word's single letter takes a stretched run ("shiiit") but not
  // a double letter of the text ("Shiite" is no "shit").
  std::vector<std::uint32_t> single;
  // The characters that must be a run of three or more: letters of the word that one
  // code stands for, written as one run ("ll!" for the "lli" of "vollidiot").
  std::vector<std::uint32_t> stretched;
};

struct PatternChoices {
  // For each pattern, the entries it stands for, lowest id first: an occurrence counts
  // for the first one whose doubled letters the text has.
  std::vector<std::vector<PatternChoice>> by_pattern;
  // The words and phrases of letters, in entry order, each with its letters (a doubled
  // one written twice), that tokens with masks may stand for.
  std::vector<std::pair<std::uint32_t, std::string>> mask_words;
  std::size_t max_mask_word = 0;   // letters of the longest, spaces included
  std::size_t max_mask_words = 1;  // words of the longest phrase
};

struct ThoroughPatterns {
  // Thorough forms: byte b accepts thorough_accepts()[b] in the text.
  std::vector<std::string> patterns;
  PatternChoices choices;
};

// The patterns of `entries` (their words normalised at the thorough level). Entries whose
// thorough form is empty have no pattern.
ThoroughPatterns thorough_patterns(const std::vector<WordEntry>& entries);

// For each byte of a thorough form, the text bytes it accepts: a letter, the codes for
// it and the letters writers put for it; a code, the same for both its letters; any
// other byte, itself.
const std::array<Automaton::ByteSet, 256>& thorough_accepts();

}  // namespace tarnwhisk
