// The filter builder and the filter.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/allowlist.hpp"
#include "tarnwhisk/censor.hpp"
#include "tarnwhisk/data.hpp"
#include "tarnwhisk/error.hpp"
#include "tarnwhisk/matcher.hpp"
#include "tarnwhisk/normalize.hpp"
#include "tarnwhisk/scorer.hpp"
#include "tarnwhisk/stream.hpp"

namespace tarnwhisk {

class Tarnwhisk;

// Asked between the pieces of a long text with the number of bytes of the text done so
// far; returning false stops the call. Lets a caller check for signals, report progress
// or give up. It runs on the calling thread, while the call holds no per-thread buffer,
// so it may itself call any filter.
using Poll = std::function<bool(std::size_t done)>;

// Collects the configuration of one filter. Every operation returns the builder; list
// operations append, settings replace. A setting never set stays "unset" and build()
// applies its default. No operation validates anything: duplicate languages, empty
// words and empty allowlist terms are all accepted.
class TarnwhiskBuilder {
 public:
  // Loads the built-in list of `language` (a language given more than once is loaded
  // once, where it was first given). With no language at all, build() loads English.
  TarnwhiskBuilder& language(Language language);
  // Appends the caller's own words, texts unchanged. A built-in entry of byte-equal text
  // wins over an added one.
  TarnwhiskBuilder& add_words(std::vector<WordEntry> words);
  // Drops every entry, built-in or added, whose text equals one of these after ASCII
  // lower-casing of both.
  TarnwhiskBuilder& remove_words(std::vector<std::string> words);
  // Appends allowlist terms (stored ASCII-lower-cased).
  TarnwhiskBuilder& allowlist(std::vector<std::string> terms);
  // Level of normalisation of input text. Default Basic.
  TarnwhiskBuilder& normalization(NormalizationLevel level);
  // Default WordBoundary.
  TarnwhiskBuilder& match_mode(MatchMode mode);
  // Default LengthPreserving.
  TarnwhiskBuilder& censor_style(CensorStyle style);
  // A Unicode scalar value. Default "*".
  TarnwhiskBuilder& mask_char(char32_t mask);
  // When true, no built-in list is loaded and the languages are ignored.
  TarnwhiskBuilder& without_bundled(bool value);
  // Attaches a scorer, shared with the filter.
  TarnwhiskBuilder& scorer(std::shared_ptr<const SemanticScorer> scorer);
  // Minimum score a hit needs when a scorer is attached. Default 0.5.
  TarnwhiskBuilder& scorer_threshold(float threshold);
  // Knobs of the automaton (speed and capacity only).
  TarnwhiskBuilder& matcher_options(const MatcherOptions& options);
  // Texts longer than this many bytes are normalised and scanned in pieces of about
  // this size, one after the other, so that a call's working memory stays small and in
  // cache, and a Poll is asked between pieces. Speed and memory only, never results.
  // Default 64 KiB; 0 never cuts.
  TarnwhiskBuilder& piece_bytes(std::size_t bytes);

  // Merges the word sources (languages in order, then added words; removals; stable sort
  // by text bytes; first of byte-equal texts kept), compiles the matcher and the
  // allowlist, and returns the filter. Fails with Error::NoWords when no entry is left and
  // with Error::MatcherBuild when the automaton refuses the patterns. Consumes the
  // configuration: afterwards the builder is back in its default state.
  Result<Tarnwhisk> build();

  // The lists gathered so far.
  const std::vector<Language>& languages() const noexcept { return languages_; }
  const std::vector<WordEntry>& added_words() const noexcept { return added_words_; }
  const std::vector<std::string>& removed_words() const noexcept { return removed_words_; }
  const std::vector<std::string>& allowlist_terms() const noexcept { return allowlist_terms_; }

 private:
  std::vector<Language> languages_;
  std::vector<WordEntry> added_words_;
  std::vector<std::string> removed_words_;
  std::vector<std::string> allowlist_terms_;
  std::optional<float> scorer_threshold_;
  std::shared_ptr<const SemanticScorer> scorer_;
  std::optional<char32_t> mask_char_;
  bool without_bundled_ = false;
  std::optional<MatchMode> match_mode_;
  std::optional<NormalizationLevel> normalization_;
  std::optional<CensorStyle> censor_style_;
  MatcherOptions matcher_options_;
  std::size_t piece_bytes_ = kDefaultPieceBytes;

 public:
  static constexpr std::size_t kDefaultPieceBytes = 64 * 1024;
};

// The filter: immutable once built, safe to share between threads (an attached scorer
// must be thread-safe itself). Every position is a byte offset into the UTF-8 text passed
// in.
class Tarnwhisk {
 public:
  Tarnwhisk(Tarnwhisk&&) noexcept;
  Tarnwhisk& operator=(Tarnwhisk&&) noexcept;
  ~Tarnwhisk();

  // The hits in `text`: normalise, scan, drop allowlisted hits, then (with a scorer, and
  // only if there are hits) keep those scoring at least the threshold. Ordered by
  // normalized_start.
  std::vector<Match> find(std::string_view text) const;
  // `text` with every hit of find(text) masked in the configured style.
  std::string censor(std::string_view text) const;
  // Whether find(text) is non-empty.
  bool contains_profanity(std::string_view text) const;

  // The same three calls, asking `poll` between the pieces of a text longer than the
  // piece size (never for a shorter text). When `poll` returns false the call stops and
  // returns std::nullopt.
  std::optional<std::vector<Match>> find(std::string_view text, const Poll& poll) const;
  std::optional<std::string> censor(std::string_view text, const Poll& poll) const;
  std::optional<bool> contains_profanity(std::string_view text, const Poll& poll) const;

  // find() for each of `texts`, in order: visit(i, hits) with the hits of texts[i] (the
  // vector may be moved from). The same results as one call per text, faster for many
  // short texts, whose searches run side by side. Asks `poll` as find() does; false when
  // it said stop, after visiting the texts before the one it stopped.
  bool find_each(std::span<const std::string_view> texts, const Poll& poll,
                 const std::function<void(std::size_t, std::vector<Match>&)>& visit) const;
  // The texts that find_each() searches side by side are those of up to this many bytes;
  // a longer one goes alone, as find() takes it.
  static constexpr std::size_t kSideBySideBytes = 1024;

  // A stream through this filter, for a text that arrives in chunks: hits and censored
  // text as they become final, the same as find() and censor() on the whole text, in
  // memory that does not grow with the length of ordinary text (tarnwhisk/stream.hpp).
  // This filter must outlive the stream and not be moved from or assigned to while it
  // lives.
  TextStream stream(const StreamOptions& options = {}) const;

  const Matcher& matcher() const noexcept { return matcher_; }
  const Allowlist& allowlist() const noexcept { return allowlist_; }
  const std::shared_ptr<const SemanticScorer>& scorer() const noexcept { return scorer_; }
  char32_t mask_char() const noexcept { return mask_char_; }
  float scorer_threshold() const noexcept { return scorer_threshold_; }
  MatchMode match_mode() const noexcept { return match_mode_; }
  NormalizationLevel normalization() const noexcept { return normalization_; }
  CensorStyle censor_style() const noexcept { return censor_style_; }

 private:
  friend class TarnwhiskBuilder;
  Tarnwhisk(Matcher matcher, Allowlist allowlist);
  // The hits of the matcher over `text`, before the allowlist and the scorer; `done` is
  // false when `poll` stopped the call.
  std::vector<Match> scan(std::string_view text, const Poll* poll, bool& done) const;
  // Normalises and scans a text longer than piece_bytes_ piece by piece, passing the hits
  // (whole-text positions, in order) to `visit` as they are decided, which returns false
  // to stop early. Asks `poll` (if any) between pieces; false when it said stop.
  template <class Visit>
  bool for_each_piece(std::string_view text, const Poll* poll, Visit&& visit) const;
  std::optional<std::vector<Match>> find(std::string_view text, const Poll* poll) const;
  // Drops from the matcher's hits over `text` those of the allowlist and those the scorer
  // rejects.
  void judge(std::string_view text, std::vector<Match>& hits) const;
  std::optional<std::string> censor(std::string_view text, const Poll* poll) const;
  std::optional<bool> contains_profanity(std::string_view text, const Poll* poll) const;

  Matcher matcher_;
  Allowlist allowlist_;
  std::shared_ptr<const SemanticScorer> scorer_;
  char32_t mask_char_ = kDefaultMaskChar;
  float scorer_threshold_ = 0.5f;
  MatchMode match_mode_ = MatchMode::WordBoundary;
  NormalizationLevel normalization_ = NormalizationLevel::Basic;
  CensorStyle censor_style_ = CensorStyle::LengthPreserving;
  std::size_t piece_bytes_ = 0;
};

}  // namespace tarnwhisk
