// The builder: it gathers the settings and word sources, and build() merges the sources
// (built-in lists once each, added words, removals, duplicates dropped), compiles the
// matcher and hands the settings to a new filter.
#include "tarnwhisk/config.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <unordered_set>

#include "utf8.hpp"

namespace tarnwhisk {

TarnwhiskBuilder& TarnwhiskBuilder::language(Language language) {
  languages_.push_back(language);
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::add_words(std::vector<WordEntry> words) {
  added_words_.insert(added_words_.end(), std::make_move_iterator(words.begin()),
                      std::make_move_iterator(words.end()));
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::remove_words(std::vector<std::string> words) {
  removed_words_.insert(removed_words_.end(), std::make_move_iterator(words.begin()),
                        std::make_move_iterator(words.end()));
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::allowlist(std::vector<std::string> terms) {
  allowlist_terms_.insert(allowlist_terms_.end(), std::make_move_iterator(terms.begin()),
                          std::make_move_iterator(terms.end()));
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::normalization(NormalizationLevel level) {
  normalization_ = level;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::match_mode(MatchMode mode) {
  match_mode_ = mode;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::censor_style(CensorStyle style) {
  censor_style_ = style;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::mask_char(char32_t mask) {
  mask_char_ = mask;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::without_bundled(bool value) {
  without_bundled_ = value;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::scorer(std::shared_ptr<const SemanticScorer> scorer) {
  scorer_ = std::move(scorer);
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::scorer_threshold(float threshold) {
  scorer_threshold_ = threshold;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::matcher_options(const MatcherOptions& options) {
  matcher_options_ = options;
  return *this;
}

TarnwhiskBuilder& TarnwhiskBuilder::piece_bytes(std::size_t bytes) {
  piece_bytes_ = bytes;
  return *this;
}

namespace {

std::vector<WordEntry> merged_entries(const std::vector<Language>& languages, bool without_bundled,
                                      std::vector<WordEntry> added,
                                      const std::vector<std::string>& removed) {
  std::vector<WordEntry> entries;
  if (!without_bundled) {
    static constexpr Language kDefault[] = {Language::En};
    const std::span<const Language> chosen =
        languages.empty() ? std::span<const Language>(kDefault) : std::span<const Language>(languages);
    // Each language once, where it was first given: a repetition would only add
    // byte-equal copies that the deduplication below drops again (same result), at the
    // cost of a whole list each time.
    std::array<bool, 256> loaded{};
    for (Language language : chosen) {
      const auto value = static_cast<std::uint8_t>(language);
      if (loaded[value]) continue;
      loaded[value] = true;
      std::vector<WordEntry> list = bundled_for(language);
      entries.insert(entries.end(), std::make_move_iterator(list.begin()),
                     std::make_move_iterator(list.end()));
    }
  }
  entries.insert(entries.end(), std::make_move_iterator(added.begin()),
                 std::make_move_iterator(added.end()));

  if (!removed.empty()) {
    std::unordered_set<std::string> gone;
    for (const std::string& word : removed) gone.insert(ascii_lower(word));
    std::erase_if(entries, [&](const WordEntry& e) { return gone.contains(ascii_lower(e.word)); });
  }

  // Stable, so that of byte-equal texts the built-in (and earlier language) entry comes
  // first and survives the deduplication.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const WordEntry& a, const WordEntry& b) { return a.word < b.word; });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const WordEntry& a, const WordEntry& b) { return a.word == b.word; }),
                entries.end());
  return entries;
}

}  // namespace

Result<Tarnwhisk> TarnwhiskBuilder::build() {
  TarnwhiskBuilder config = std::move(*this);
  *this = TarnwhiskBuilder();

  std::vector<WordEntry> entries = merged_entries(config.languages_, config.without_bundled_,
                                                  std::move(config.added_words_),
                                                  config.removed_words_);
  if (entries.empty()) return Error::no_words();
  const NormalizationLevel level = config.normalization_.value_or(NormalizationLevel::Basic);

  Result<Matcher> matcher = Matcher::create(std::move(entries), config.matcher_options_, level);
  if (!matcher) return matcher.error();

  Tarnwhisk filter(std::move(matcher).value(), Allowlist(std::move(config.allowlist_terms_)));
  filter.mask_char_ = config.mask_char_.value_or(kDefaultMaskChar);
  filter.censor_style_ = config.censor_style_.value_or(CensorStyle::LengthPreserving);
  filter.match_mode_ = config.match_mode_.value_or(MatchMode::WordBoundary);
  filter.normalization_ = level;
  filter.piece_bytes_ = config.piece_bytes_;
  filter.scorer_threshold_ = config.scorer_threshold_.value_or(0.5f);
  filter.scorer_ = std::move(config.scorer_);
  return filter;
}

}  // namespace tarnwhisk

