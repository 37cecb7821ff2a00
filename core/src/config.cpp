// The builder's merge of word sources, and the filter's fixed road:
// normalise -> scan -> allowlist -> scorer (-> censor).
#include "tarnwhisk/config.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_set>

#include "hit_stream.hpp"
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

Tarnwhisk::Tarnwhisk(Matcher matcher, Allowlist allowlist)
    : matcher_(std::move(matcher)), allowlist_(std::move(allowlist)) {}
Tarnwhisk::Tarnwhisk(Tarnwhisk&&) noexcept = default;
Tarnwhisk& Tarnwhisk::operator=(Tarnwhisk&&) noexcept = default;
Tarnwhisk::~Tarnwhisk() = default;

namespace {

// Normalised text is written into buffers kept per thread: a call on a chat-sized
// message then allocates nothing but its result, and a call on a long text does not
// fetch fresh pages from the system for every piece or call (measured: a fifth of the
// time of find on 1 MiB went to page faults when each call made its own buffers).
// What a thread keeps is bounded: buffers that a call grew beyond these sizes (a short
// text of unusual expansion, pieces larger than the default) are given back.
struct Scratch {
  NormalizedText text;
  std::size_t kept_text_bytes;
  std::size_t kept_offsets;

  // Gives the buffers back when they outgrew what the thread may keep.
  void trim() noexcept {
    if (text.text.capacity() > kept_text_bytes || text.offsets.capacity() > kept_offsets)
      text = NormalizedText();
  }
};

// Texts up to this many bytes use the small buffers below; longer ones the large ones.
constexpr std::size_t kShortText = 4 * 1024;

// Short texts: up to 16 KiB of normalised text and 4096 offsets (64 KiB).
Scratch& short_scratch() {
  thread_local Scratch scratch{{}, 16 * 1024, 4 * 1024};
  return scratch;
}

// Texts up to a piece long: room for two default pieces (~2 MiB of offsets), since the
// buffers grow by doubling.
Scratch& piece_scratch() {
  constexpr std::size_t kPiece = TarnwhiskBuilder::kDefaultPieceBytes;
  thread_local Scratch scratch{{}, 4 * kPiece, 2 * kPiece};
  return scratch;
}

}  // namespace

template <class Visit>
bool Tarnwhisk::for_each_piece(std::string_view text, const Poll* poll, Visit&& visit) const {
  // The text in pieces, normalised and scanned as one: each piece's hits come out as soon
  // as nothing later can change them. The per-call state is the stream's own, so `poll`
  // may use this filter (or any) again.
  HitStream stream(matcher_, normalization_, match_mode_);
  std::vector<Match> hits;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t to = piece_end(text, from, piece_bytes_);
    stream.feed(text.substr(from, to - from), hits);
    if (!hits.empty()) {
      if (!visit(hits)) return true;
      hits.clear();
    }
    from = to;
    if (poll && from < text.size() && !(*poll)(from)) return false;
  }
  stream.finish(hits);
  if (!hits.empty()) visit(hits);
  return true;
}

std::vector<Match> Tarnwhisk::scan(std::string_view text, const Poll* poll, bool& done) const {
  done = true;
  if (piece_bytes_ == 0 || text.size() <= piece_bytes_) {
    // Nothing runs between normalising and scanning that could call back into a filter
    // on this thread, so the scratch buffers are never in use twice at once.
    Scratch& scratch = text.size() <= kShortText ? short_scratch() : piece_scratch();
    normalize_into(text, normalization_, scratch.text);
    std::vector<Match> hits = matcher_.scan(scratch.text, match_mode_);
    scratch.trim();
    return hits;
  }
  std::vector<Match> hits;
  done = for_each_piece(text, poll, [&](const std::vector<Match>& piece_hits) {
    hits.insert(hits.end(), piece_hits.begin(), piece_hits.end());
    return true;
  });
  return hits;
}

std::optional<std::vector<Match>> Tarnwhisk::find(std::string_view text, const Poll* poll) const {
  bool done = true;
  std::vector<Match> hits = scan(text, poll, done);
  if (!done) return std::nullopt;
  if (!allowlist_.empty() && !hits.empty()) hits = allowlist_.filter(text, std::move(hits));
  if (scorer_ && !hits.empty()) {
    // A NaN score fails the comparison and drops the hit.
    std::erase_if(hits, [&](const Match& hit) { return !(scorer_->score(text, hit) >= scorer_threshold_); });
  }
  return hits;
}

std::vector<Match> Tarnwhisk::find(std::string_view text) const { return *find(text, nullptr); }

std::string Tarnwhisk::censor(std::string_view text) const { return *censor(text, nullptr); }

bool Tarnwhisk::contains_profanity(std::string_view text) const { return *contains_profanity(text, nullptr); }

std::optional<std::vector<Match>> Tarnwhisk::find(std::string_view text, const Poll& poll) const {
  return find(text, &poll);
}

std::optional<std::string> Tarnwhisk::censor(std::string_view text, const Poll& poll) const {
  return censor(text, &poll);
}

std::optional<bool> Tarnwhisk::contains_profanity(std::string_view text, const Poll& poll) const {
  return contains_profanity(text, &poll);
}

std::optional<std::string> Tarnwhisk::censor(std::string_view text, const Poll* poll) const {
  const std::optional<std::vector<Match>> hits = find(text, poll);
  if (!hits) return std::nullopt;
  return censor::apply(text, *hits, censor_style_, mask_char_);
}

std::optional<bool> Tarnwhisk::contains_profanity(std::string_view text, const Poll* poll) const {
  // Without an allowlist or a scorer every hit of the matcher counts, so a long text
  // needs reading only up to the first piece that has one.
  if (!allowlist_.empty() || scorer_ || piece_bytes_ == 0 || text.size() <= piece_bytes_) {
    const std::optional<std::vector<Match>> hits = find(text, poll);
    if (!hits) return std::nullopt;
    return !hits->empty();
  }
  bool found = false;
  const bool done = for_each_piece(text, poll, [&](const std::vector<Match>&) {
    found = true;
    return false;
  });
  if (!done) return std::nullopt;
  return found;
}

}  // namespace tarnwhisk
