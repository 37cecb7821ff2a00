// The builder's merge of word sources, and the filter's fixed road:
// normalise -> scan -> allowlist -> scorer (-> censor).
#include "tarnwhisk/config.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_set>

#include "normalize/stages.hpp"
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

// Bytes that occur in some pattern: no occurrence can contain any other byte.
std::array<bool, 256> pattern_bytes(const std::vector<WordEntry>& entries) {
  std::array<bool, 256> used{};
  for (const WordEntry& entry : entries) {
    for (unsigned char b : normalize(entry.word, NormalizationLevel::Basic).text) used[b] = true;
  }
  return used;
}

// Bytes after which a long text can be cut into pieces that are normalised and scanned
// on their own with the same result as the whole: an ASCII byte that no stage of `level`
// changes, removes or reads as a letter (so no run, separator rule or boundary test
// reaches across it) and that no pattern contains (so no occurrence crosses it).
std::array<bool, 256> cut_bytes(const std::array<bool, 256>& in_patterns, NormalizationLevel level) {
  std::array<bool, 256> cut{};
  for (int b = 0; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    const bool word_byte = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_';
    const bool leet = c == '!' || c == '$' || c == '@';
    const bool separator = std::string_view("\t *,-./:;\\_|").find(c) != std::string_view::npos;
    cut[b] = !word_byte && !leet && !(separator && level == NormalizationLevel::Aggressive) &&
             !in_patterns[b];
  }
  return cut;
}

// What the stages that look at one character at a time make of `c`: nothing, or
// characters of which the first and the last are given.
struct Ends {
  bool removed;
  char32_t first;
  char32_t last;
};

Ends ends_of(char32_t c, NormalizationLevel level) noexcept {
  if (level == NormalizationLevel::None) return {false, c, c};
  if (strip_bidi::removes(c)) return {true, 0, 0};
  auto fold = [](char32_t x) { return leetspeak::fold(homoglyph::fold(casefold::fold(x))); };
  const nfkc::Form form = nfkc::form(c);
  if (form.len == 0) return {false, fold(c), fold(c)};
  return {false, fold(form.chars[0]), fold(form.chars[form.len - 1])};
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
  const std::array<bool, 256> in_patterns = pattern_bytes(entries);

  Result<Matcher> matcher = Matcher::create(std::move(entries), config.matcher_options_);
  if (!matcher) return matcher.error();

  Tarnwhisk filter(std::move(matcher).value(), Allowlist(std::move(config.allowlist_terms_)));
  filter.mask_char_ = config.mask_char_.value_or(kDefaultMaskChar);
  filter.censor_style_ = config.censor_style_.value_or(CensorStyle::LengthPreserving);
  filter.match_mode_ = config.match_mode_.value_or(MatchMode::WordBoundary);
  filter.normalization_ = level;
  filter.piece_bytes_ = config.piece_bytes_;
  filter.cut_after_ = cut_bytes(in_patterns, level);
  for (int b = 0xC2; b < 0x100; ++b) filter.cut_before_lead_[b] = !in_patterns[b];
  filter.scorer_threshold_ = config.scorer_threshold_.value_or(0.5f);
  filter.scorer_ = std::move(config.scorer_);
  return filter;
}

Tarnwhisk::Tarnwhisk(Matcher matcher, Allowlist allowlist)
    : matcher_(std::move(matcher)), allowlist_(std::move(allowlist)) {}
Tarnwhisk::Tarnwhisk(Tarnwhisk&&) noexcept = default;
Tarnwhisk& Tarnwhisk::operator=(Tarnwhisk&&) noexcept = default;
Tarnwhisk::~Tarnwhisk() = default;

std::size_t Tarnwhisk::next_cut(std::string_view text, std::size_t from) const noexcept {
  for (std::size_t i = std::max<std::size_t>(from, 1); i < text.size(); ++i) {
    const auto prev = static_cast<unsigned char>(text[i - 1]);
    const auto next = static_cast<unsigned char>(text[i]);
    // After the last byte of a run of a cut byte, before an ASCII byte: the run stays
    // whole in one piece and nothing that a stage removes or expands stands at the cut.
    if (next < 0x80) {
      if (cut_after_[prev] && next != prev) return i;
      continue;
    }
    // Before a character whose normal form starts with a character that no pattern
    // can contain (so no occurrence reaches across and the boundary test sees a
    // non-word byte either way), after one whose normal form ends differently (so no run
    // is split) and with neither removed. This is what keeps a text without any ASCII,
    // however long, in pieces too.
    if (!cut_before_lead_[next]) continue;
    const std::size_t len = utf8::char_len(text, i);
    if (len == 1) continue;
    std::size_t start = i - 1;
    while (!utf8::is_char_boundary(text, start)) --start;
    const std::size_t prev_len = i - start;
    const Ends after = ends_of(utf8::decode(text, i, len), normalization_);
    const Ends before = ends_of(utf8::decode(text, start, prev_len), normalization_);
    if (after.removed || before.removed || before.last == after.first) continue;
    if (after.first < 0x80) continue;
    std::string first;
    utf8::encode(after.first, first);
    if (cut_before_lead_[static_cast<unsigned char>(first[0])]) return i;
  }
  return text.size();
}

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

// Texts up to this many bytes use the small buffers below; longer ones, and the pieces
// of long texts, the large ones.
constexpr std::size_t kShortText = 4 * 1024;

// Short texts: up to 16 KiB of normalised text and 4096 offsets (64 KiB).
Scratch& short_scratch() {
  thread_local Scratch scratch{{}, 16 * 1024, 4 * 1024};
  return scratch;
}

// Pieces of long texts: room for two default pieces (~2 MiB of offsets), since a piece
// runs to the next cut after the piece size and the buffers grow by doubling.
Scratch& piece_scratch() {
  constexpr std::size_t kPiece = TarnwhiskBuilder::kDefaultPieceBytes;
  thread_local Scratch scratch{{}, 4 * kPiece, 2 * kPiece};
  return scratch;
}

}  // namespace

template <class Visit>
void Tarnwhisk::for_each_piece(std::string_view text, Visit&& visit) const {
  // A long text in pieces: its normalised text is the concatenation of theirs, so each
  // piece's hits only need shifting by where the piece starts in either text.
  std::size_t source_base = 0;
  std::size_t normalized_base = 0;
  // Nothing runs between normalising a piece and scanning it that could call back into
  // a filter on this thread (`visit` sees only the hits), so the buffers are never in
  // use twice at once.
  Scratch& scratch = piece_scratch();
  NormalizedText& piece = scratch.text;
  struct Trim {
    Scratch& scratch;
    ~Trim() { scratch.trim(); }
  } trim{scratch};
  while (source_base < text.size()) {
    const std::size_t cut = next_cut(text, source_base + piece_bytes_);
    normalize_into(text.substr(source_base, cut - source_base), normalization_, piece);
    std::vector<Match> hits = matcher_.scan(piece, match_mode_);
    for (Match& hit : hits) {
      hit.start += source_base;
      hit.end += source_base;
      hit.normalized_start += normalized_base;
      hit.normalized_end += normalized_base;
    }
    if (!visit(std::move(hits))) return;
    source_base = cut;
    normalized_base += piece.text.size();
  }
}

std::vector<Match> Tarnwhisk::scan(std::string_view text) const {
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
  for_each_piece(text, [&](std::vector<Match> piece_hits) {
    if (hits.empty()) {
      hits = std::move(piece_hits);
    } else {
      hits.insert(hits.end(), piece_hits.begin(), piece_hits.end());
    }
    return true;
  });
  return hits;
}

std::vector<Match> Tarnwhisk::find(std::string_view text) const {
  std::vector<Match> hits = scan(text);
  if (!allowlist_.empty() && !hits.empty()) hits = allowlist_.filter(text, std::move(hits));
  if (scorer_ && !hits.empty()) {
    // A NaN score fails the comparison and drops the hit.
    std::erase_if(hits, [&](const Match& hit) { return !(scorer_->score(text, hit) >= scorer_threshold_); });
  }
  return hits;
}

std::string Tarnwhisk::censor(std::string_view text) const {
  const std::vector<Match> hits = find(text);
  return censor::apply(text, hits, censor_style_, mask_char_);
}

bool Tarnwhisk::contains_profanity(std::string_view text) const {
  // Without an allowlist or a scorer every hit of the matcher counts, so a long text
  // needs reading only up to the first piece that has one.
  if (!allowlist_.empty() || scorer_ || piece_bytes_ == 0 || text.size() <= piece_bytes_)
    return !find(text).empty();
  bool found = false;
  for_each_piece(text, [&](std::vector<Match> hits) {
    found = !hits.empty();
    return !found;
  });
  return found;
}

std::optional<std::vector<Match>> Tarnwhisk::find(std::string_view text, const Poll&) const {
  return find(text);
}

std::optional<std::string> Tarnwhisk::censor(std::string_view text, const Poll&) const {
  return censor(text);
}

std::optional<bool> Tarnwhisk::contains_profanity(std::string_view text, const Poll&) const {
  return contains_profanity(text);
}

}  // namespace tarnwhisk
