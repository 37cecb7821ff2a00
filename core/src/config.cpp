// The filter's fixed road: normalise -> scan -> allowlist -> scorer (-> censor). A text
// up to a piece long is normalised whole into the thread's scratch buffers
// (scratch.hpp); a longer one goes piece by piece through a HitStream (hit_stream.hpp).
// The builder that makes a filter is builder.cpp.
#include "tarnwhisk/config.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "hit_stream.hpp"
#include "matcher/automaton.hpp"
#include "matcher/scan_stream.hpp"
#include "scratch.hpp"

namespace tarnwhisk {

Tarnwhisk::Tarnwhisk(Matcher matcher, Allowlist allowlist)
    : matcher_(std::move(matcher)), allowlist_(std::move(allowlist)) {}
Tarnwhisk::Tarnwhisk(Tarnwhisk&&) noexcept = default;
Tarnwhisk& Tarnwhisk::operator=(Tarnwhisk&&) noexcept = default;
Tarnwhisk::~Tarnwhisk() = default;

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
    Scratch& scratch = Scratch::for_text(text.size());
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
  // An empty text has no hits at any level: chat data has many, and normalising and
  // scanning nothing still costs the scratch lookup and the scan's setup.
  if (text.empty()) return std::vector<Match>();
  bool done = true;
  std::vector<Match> hits = scan(text, poll, done);
  if (!done) return std::nullopt;
  judge(text, hits);
  return hits;
}

void Tarnwhisk::judge(std::string_view text, std::vector<Match>& hits) const {
  if (!allowlist_.empty() && !hits.empty()) hits = allowlist_.filter(text, std::move(hits));
  if (scorer_ && !hits.empty()) {
    // A NaN score fails the comparison and drops the hit.
    std::erase_if(hits, [&](const Match& hit) { return !(scorer_->score(text, hit) >= scorer_threshold_); });
  }
}

namespace {

// Short texts are searched side by side this many at a time: enough that the lanes
// rarely wait for a text, few enough that their normalised forms stay in the first
// caches. A longer text goes alone (its own search has lanes).
constexpr std::size_t kSideBySide = 16;

}  // namespace

bool Tarnwhisk::find_each(std::span<const std::string_view> texts, const Poll& poll,
                          const std::function<void(std::size_t, std::vector<Match>&)>& visit) const {
  std::vector<Match> hits;
  std::array<NormalizedText, kSideBySide> normalized;
  std::array<std::string_view, kSideBySide> views;
  std::array<OccurrenceList, kSideBySide> found;
  for (std::size_t i = 0; i < texts.size();) {
    const std::size_t first = i;
    std::size_t group = 0;
    for (; i < texts.size() && group < kSideBySide && texts[i].size() <= kSideBySideBytes; ++i, ++group) {
      // A batch's texts may lie anywhere in memory (str objects all over a heap): the
      // next group's are asked for early, so that their loads overlap this group's work.
#if defined(__GNUC__)
      if (i + kSideBySide < texts.size()) {
        const std::string_view ahead = texts[i + kSideBySide];
        for (std::size_t at = 0; at < std::min<std::size_t>(ahead.size(), 256); at += 64)
          __builtin_prefetch(ahead.data() + at);
      }
#endif
      normalize_into(texts[i], normalization_, normalized[group]);
      views[group] = normalized[group].text;
      found[group].clear();
    }
    matcher_.automaton().scan_many(std::span(views.data(), group),
                                   [&](std::size_t t, const Occurrence& occ) { found[t].push_back(occ); });
    for (std::size_t k = 0; k < group; ++k) {
      hits.clear();
      // At the thorough level a token with masks ("f*ck") is a hit without any
      // occurrence.
      if (found[k].size() != 0 || matcher_.choices() != nullptr) {
        ScanStream(matcher_, match_mode_).finish_found(normalized[k], found[k], hits);
        judge(texts[first + k], hits);
      }
      visit(first + k, hits);
    }
    if (i < texts.size() && texts[i].size() > kSideBySideBytes) {
      std::optional<std::vector<Match>> alone = find(texts[i], &poll);
      if (!alone) return false;
      visit(i, *alone);
      ++i;
    }
  }
  return true;
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
