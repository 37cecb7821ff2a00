// Word entries, categories, languages and the built-in word lists.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwhisk {

// Kind of a word. The filter never looks at it; it is reported with every hit.
//
// Both enumerations take any value of their underlying byte (a cast or a value read
// from outside can hold one beyond the last enumerator), and every function here gives
// such a value a defined meaning instead of reading past a table: it has no name (the
// empty string) and, for a Language, no built-in list. A Category beyond Slang in a
// caller's word entry is carried into its hits unchanged.
enum class Category : std::uint8_t { Mild = 0, Strong = 1, Sexual = 2, Slur = 3, Slang = 4 };

// The five category names, indexed by the category's value.
inline constexpr std::array<std::string_view, 5> kCategoryNames = {
    "mild", "strong", "sexual", "slur", "slang"};

// The lower-case name of `category` ("mild" ... "slang"); empty for a value beyond Slang.
constexpr std::string_view category_name(Category category) noexcept {
  const auto index = static_cast<std::size_t>(category);
  return index < kCategoryNames.size() ? kCategoryNames[index] : std::string_view();
}

// Languages with a built-in word list.
enum class Language : std::uint8_t { En = 0, Es = 1, Hi = 2, Fr = 3, De = 4 };

// The five language codes, indexed by the language's value: "en", "es", "hi", "fr", "de".
inline constexpr std::array<std::string_view, 5> kLanguageCodes = {"en", "es", "hi", "fr", "de"};

// The code of `language`; empty for a value beyond De.
constexpr std::string_view language_code(Language language) noexcept {
  const auto index = static_cast<std::size_t>(language);
  return index < kLanguageCodes.size() ? kLanguageCodes[index] : std::string_view();
}

// One configured word. `word` is kept exactly as given (case, accents, inner spaces;
// empty text is allowed and never matches). `strict` entries count wherever their
// pattern occurs, also inside longer words; other entries must stand as whole words
// under MatchMode::WordBoundary.
struct WordEntry {
  std::string word;
  Category category = Category::Strong;
  std::uint8_t severity = 2;
  bool strict = false;

  bool operator==(const WordEntry&) const = default;
};

// One row of a built-in table: constant data that merge() turns into a WordEntry.
struct WordRow {
  std::string_view text;
  Category category;
  std::uint8_t severity;
  bool strict;
};

// The built-in base table of `language`, in table order (empty for a value beyond De).
std::span<const WordRow> base_table(Language language) noexcept;
// The built-in override table of `language` (empty for every language but En).
std::span<const WordRow> override_table(Language language) noexcept;

// Folds `overrides` onto `base`: each text, compared after ASCII lower-casing, occurs
// once, and a later row (base rows first, then override rows) replaces an earlier one
// wholly. The order of the result is unspecified.
std::vector<WordEntry> merge(std::span<const WordRow> base, std::span<const WordRow> overrides);

// A fresh list of the built-in entries of `language`: merge(base_table, override_table).
std::vector<WordEntry> bundled_for(Language language);

}  // namespace tarnwhisk
