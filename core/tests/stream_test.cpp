// A text fed to a stream in chunks must give the hits of find() and the text of censor()
// on the whole text, whatever the cuts (inside characters, words, hits and allowlisted
// terms), and give them early: what has come out is always a prefix of the whole
// result, and a long text of ordinary prose is held in a few KiB.
#include "tarnwhisk/stream.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk {

void PrintTo(const Match& m, std::ostream* os) {
  *os << "[" << m.start << ", " << m.end << ") n[" << m.normalized_start << ", " << m.normalized_end << ") #"
      << m.word_id;
}

namespace {

WordEntry word(std::string text, bool strict = false) { return {std::move(text), Category::Strong, 2, strict}; }

struct Config {
  Config(std::vector<WordEntry> words = {}, std::vector<std::string> allow = {},
         NormalizationLevel level = NormalizationLevel::Basic, MatchMode mode = MatchMode::WordBoundary,
         CensorStyle style = CensorStyle::LengthPreserving, char32_t mask = U'*',
         std::shared_ptr<const SemanticScorer> scorer = nullptr)
      : words(std::move(words)), allow(std::move(allow)), level(level), mode(mode), style(style), mask(mask),
        scorer(std::move(scorer)) {}
  std::vector<WordEntry> words;
  std::vector<std::string> allow;
  NormalizationLevel level;
  MatchMode mode;
  CensorStyle style;
  char32_t mask;
  std::shared_ptr<const SemanticScorer> scorer;
};

Tarnwhisk make(const Config& c) {
  TarnwhiskBuilder b;
  b.without_bundled(true).add_words(c.words).allowlist(c.allow).normalization(c.level).match_mode(c.mode);
  b.censor_style(c.style).mask_char(c.mask);
  if (c.scorer) b.scorer(c.scorer);
  auto built = b.build();
  if (!built.ok()) throw std::runtime_error(built.error().to_string());
  return std::move(built).value();
}

// Streams `text` cut at the increasing positions `cuts` (the last chunk runs to the end)
// and checks the results against find() and censor() on the whole text: equal at the
// end, and a prefix of them after every chunk.
void check(const Tarnwhisk& f, std::string_view text, const std::vector<std::size_t>& cuts,
           const std::string& label, const StreamOptions& options = {}) {
  const std::vector<Match> want_hits = f.find(text);
  const std::string want_text = f.censor(text);
  TextStream s = f.stream(options);
  TextStream::Output out;
  std::size_t from = 0;
  std::size_t hits_seen = 0, text_seen = 0;  // checked already
  std::size_t settled = 0;
  auto step = [&](std::size_t to) {
    s.feed(text.substr(from, to - from), out);
    from = to;
    ASSERT_EQ(s.consumed(), to) << label;
    // No hit starts before the place that an earlier call called settled.
    for (std::size_t k = hits_seen; k < out.hits.size(); ++k) ASSERT_GE(out.hits[k].start, settled) << label;
    ASSERT_GE(s.settled(), settled) << label;
    ASSERT_LE(s.settled(), to) << label;
    settled = s.settled();
    ASSERT_LE(out.hits.size(), want_hits.size()) << label;
    ASSERT_TRUE(std::equal(out.hits.begin() + hits_seen, out.hits.end(), want_hits.begin() + hits_seen))
        << label << " after " << to;
    ASSERT_LE(out.censored.size(), want_text.size()) << label;
    ASSERT_EQ(std::string_view(out.censored).substr(text_seen),
              std::string_view(want_text).substr(text_seen, out.censored.size() - text_seen))
        << label << " after " << to;
    ASSERT_LE(s.censored_through(), to) << label;
    hits_seen = out.hits.size();
    text_seen = out.censored.size();
  };
  for (std::size_t c : cuts) {
    step(c);
    if (::testing::Test::HasFatalFailure()) return;
  }
  step(text.size());
  if (::testing::Test::HasFatalFailure()) return;
  s.finish(out);
  EXPECT_TRUE(s.finished());
  for (std::size_t k = hits_seen; k < out.hits.size(); ++k) EXPECT_GE(out.hits[k].start, settled) << label;
  EXPECT_EQ(s.settled(), text.size()) << label;
  EXPECT_EQ(out.hits, want_hits) << label;
  if (options.censor) {
    EXPECT_EQ(out.censored, want_text) << label;
    EXPECT_EQ(s.censored_through(), text.size()) << label;
  } else {
    EXPECT_EQ(out.censored, "") << label;
  }
}

// The text in one chunk, in chunks of one byte, and cut once at every position.
void check_every_cut(const Tarnwhisk& f, std::string_view text, const std::string& label) {
  check(f, text, {}, label + " (whole)");
  std::vector<std::size_t> bytes;
  for (std::size_t i = 1; i < text.size(); ++i) bytes.push_back(i);
  check(f, text, bytes, label + " (bytes)");
  for (std::size_t i = 0; i <= text.size(); ++i) check(f, text, {i}, label + " (cut at " + std::to_string(i) + ")");
}

// Each case states its censored text, so that the comparison with censor() cannot pass
// on a case that finds nothing.
TEST(Stream, CutAnywhereGivesTheWholeTextResult) {
  const std::string fw_damn = "\xEF\xBD\x84\xEF\xBD\x81\xEF\xBD\x8D\xEF\xBD\x8E";  // full-width "damn"
  struct Case {
    const char* name;
    Config config;
    std::string text;
    std::string censored;
  };
  const std::vector<WordEntry> damn = {word("damn")};
  const Case cases[] = {
      {"empty input", {damn}, "", ""},
      {"no hit", {damn}, "nothing here", "nothing here"},
      {"one hit", {damn}, "oh damn it", "oh **** it"},
      {"hit ends the text", {damn}, "oh damn", "oh ****"},
      {"hit is the text", {damn}, "damn", "****"},
      {"hit of multi-byte characters", {damn}, "oh " + fw_damn + " it", "oh **** it"},
      {"leetspeak and a stretched run", {damn}, "d4mmmmmn, d4mn", "********, ****"},
      {"symbol after the hit", {{word("shit")}}, "shit!!$ ok shit!x", "****!!$ ok shit!x"},
      {"phrase across words", {{word("damn it")}}, "oh damn it all", "oh ******* all"},
      {"no word boundary", {damn}, "damnation", "damnation"},
      {"substring mode", {damn, {}, NormalizationLevel::Basic, MatchMode::Substring}, "damnation", "****ation"},
      {"strict entry inside a word", {{word("damn", true)}}, "goddamnit", "god****it"},
      {"level none keeps capitals", {damn, {}, NormalizationLevel::None}, "DAMN damn", "DAMN ****"},
      {"aggressive joins letters", {{word("fuck")}, {}, NormalizationLevel::Aggressive}, "f.u.c.k", "*******"},
      {"thorough: masks, stand-in letters, spaced letters", {{word("fuck"), word("damn")}, {},
       NormalizationLevel::Thorough}, "so d@mn, f**k, phuck, f u c k end", "so ****, ****, *****, ******* end"},
      {"allowlisted word around a hit", {{word("ass")}, {"classic"}, NormalizationLevel::Basic, MatchMode::Substring},
       "a ClAsSiC ass", "a ClAsSiC ***"},
      {"allowlist term sharing one byte", {{word("hell")}, {"lo"}, NormalizationLevel::Basic, MatchMode::Substring},
       "hello hell", "hello ****"},
      {"allowlist term only touching", {{word("hell")}, {"ab"}, NormalizationLevel::Basic, MatchMode::Substring},
       "abhell", "ab****"},
      {"long allowlist term after the hit", {{word("ass")}, {"ssxxxxxxxxxxxx"}, NormalizationLevel::Basic,
       MatchMode::Substring}, "ass assxxxxxxxxxxxx", "*** assxxxxxxxxxxxx"},
      // "\uFB00" is "ff": the two hits share its bytes, and the censor skips the second.
      {"hits sharing a source character", {{word("af"), word("fb")}, {}, NormalizationLevel::Basic,
       MatchMode::Substring}, "a\xEF\xAC\x80" "b", "**b"},
      {"empty term drops hits of two characters or more", {{word("ab"), word("x")}, {""}}, "ab x", "ab *"},
      {"first_last", {damn, {}, NormalizationLevel::Basic, MatchMode::WordBoundary, CensorStyle::FirstLast},
       "oh " + fw_damn + " it", "oh \xEF\xBD\x84**\xEF\xBD\x8E it"},
      {"full_mask", {damn, {}, NormalizationLevel::Basic, MatchMode::WordBoundary, CensorStyle::FullMask, U'#'},
       "oh damn it damn", "oh **** it ****"},
      {"grawlix", {damn, {}, NormalizationLevel::Basic, MatchMode::WordBoundary, CensorStyle::Grawlix},
       "damn damn", "#@$% #@$%"},
      {"multi-byte mask", {damn, {}, NormalizationLevel::Basic, MatchMode::WordBoundary,
       CensorStyle::LengthPreserving, U'\u2588'}, "oh damn", "oh \xE2\x96\x88\xE2\x96\x88\xE2\x96\x88\xE2\x96\x88"},
      {"ill-formed bytes", {damn}, "\xFF damn \xC3", "\xFF **** \xC3"},
  };
  for (const Case& c : cases) {
    const Tarnwhisk f = make(c.config);
    ASSERT_EQ(f.censor(c.text), c.censored) << c.name;
    check_every_cut(f, c.text, c.name);
  }
}

TEST(Stream, HitsOnlyKeepsNoSource) {
  const Tarnwhisk f = make({{word("damn")}, {"damnation"}});
  const std::string text = "damn it, damnation, damn";
  check(f, text, {3, 12}, "hits only", StreamOptions{.censor = false});
  TextStream s = f.stream({.censor = false});
  TextStream::Output out;
  for (char c : text) {
    s.feed(std::string_view(&c, 1), out);
    EXPECT_EQ(s.held_bytes(), 0u);
  }
  s.finish(out);
  EXPECT_EQ(out.hits.size(), 2u);
  EXPECT_EQ(s.censored_through(), 0u);
}

TEST(Stream, FinishEndsTheStream) {
  const Tarnwhisk f = make({{word("damn")}});
  TextStream s = f.stream();
  TextStream::Output out;
  s.finish(out);
  EXPECT_TRUE(out.hits.empty());
  EXPECT_EQ(out.censored, "");

  TextStream t = f.stream();
  t.feed("so damn", out);
  EXPECT_FALSE(t.finished());
  t.finish(out);
  EXPECT_EQ(out.censored, "so ****");
  t.finish(out);  // again: nothing more
  EXPECT_EQ(out.censored, "so ****");
  EXPECT_EQ(out.hits.size(), 1u);
  EXPECT_THROW(t.feed("damn", out), std::logic_error);
  EXPECT_EQ(t.consumed(), 7u);
  EXPECT_EQ(out.censored, "so ****");

  // A stream moved from one object to another goes on where it was.
  TextStream a = f.stream();
  TextStream::Output moved;
  a.feed("dam", moved);
  TextStream b = std::move(a);
  b.feed("n!", moved);
  b.finish(moved);
  EXPECT_EQ(moved.censored, "****!");
}

// Records what it is shown and decides by what stands within a few bytes before the hit.
class LookBehindScorer final : public SemanticScorer {
 public:
  struct Call {
    std::string text;
    std::size_t start, end;
  };
  explicit LookBehindScorer(std::size_t reach) : reach_(reach) {}
  float score(std::string_view text, const Match& hit) const override {
    if (fail_next_) {
      fail_next_ = false;
      throw std::runtime_error("scorer failed");
    }
    if (record) calls.push_back({std::string(text), hit.start, hit.end});
    const std::size_t from = hit.start >= reach_ ? hit.start - reach_ : 0;
    const std::string_view before = text.substr(from, hit.start - from);
    if (before.find("not") != std::string_view::npos) return 0.0f;
    if (before.find('?') != std::string_view::npos) return std::nanf("");
    return 1.0f;
  }
  bool record = false;
  mutable std::vector<Call> calls;
  mutable bool fail_next_ = false;

 private:
  std::size_t reach_;
};

// Prose with hits, 4 MB in chunks of 1000 bytes: the stream holds a few KiB, and the
// censored text keeps up with what was fed; with a scorer too, which is shown up to 64
// bytes around each hit.
TEST(Stream, LongProseInBoundedMemory) {
  const std::string unit = "Well, damn: the shell said hello to hell and went on its way, not d4mn it. ";
  std::string text;
  while (text.size() < 4'000'000) text += unit;
  for (bool scored : {false, true}) {
    const Tarnwhisk f = make({{word("damn"), word("hell")}, {"hello"}, NormalizationLevel::Basic,
                              MatchMode::Substring, CensorStyle::LengthPreserving, U'*',
                              scored ? std::make_shared<LookBehindScorer>(4) : nullptr});
    TextStream s = f.stream({.scorer_context = 64});
    TextStream::Output out;
    std::size_t most_held = 0, most_behind = 0, hits = 0;
    std::string censored;
    for (std::size_t from = 0; from < text.size(); from += 1000) {
      s.feed(std::string_view(text).substr(from, 1000), out);
      most_held = std::max(most_held, s.held_bytes());
      most_behind = std::max(most_behind, s.consumed() - s.censored_through());
      censored += out.censored;
      hits += out.hits.size();
      out = {};
    }
    s.finish(out);
    censored += out.censored;
    hits += out.hits.size();
    EXPECT_LE(most_held, 16u * 1024) << scored;
    EXPECT_LE(most_behind, 1024u) << scored;
    // damn, shell, hell, d4mn; "hello" is allowlisted and the scorer drops "not d4mn".
    EXPECT_EQ(hits, text.size() / unit.size() * (scored ? 3 : 4)) << scored;
    EXPECT_EQ(hits, f.find(text).size()) << scored;
    EXPECT_EQ(censored, f.censor(text)) << scored;
  }
}

TEST(Stream, ScorerSeesTheHitWithItsContext) {
  // Multi-byte characters around the edges of the context: it widens to whole ones.
  const std::string text = "\xC3\xA9\xC3\xA9 not damn \xE2\x82\xAC\xE2\x82\xAC damn? damn";
  struct Case {
    std::size_t context;
    std::vector<std::pair<std::size_t, std::size_t>> stretches;  // in the whole text
  };
  const Case cases[] = {
      {0, {{9, 13}, {21, 25}, {27, 31}}},
      {5, {{4, 20}, {14, 30}, {22, 31}}},
      {6, {{2, 20}, {14, 31}, {21, 31}}},
      {100, {{0, 31}, {0, 31}, {0, 31}}},
      {SIZE_MAX, {{0, 31}, {0, 31}, {0, 31}}},
  };
  for (const Case& c : cases) {
    auto scorer = std::make_shared<LookBehindScorer>(0);
    scorer->record = true;
    const Tarnwhisk f = make({{word("damn")}, {}, NormalizationLevel::Basic, MatchMode::WordBoundary,
                              CensorStyle::LengthPreserving, U'*', scorer});
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      scorer->calls.clear();
      TextStream s = f.stream({.scorer_context = c.context});
      TextStream::Output out;
      s.feed(std::string_view(text).substr(0, cut), out);
      s.feed(std::string_view(text).substr(cut), out);
      s.finish(out);
      ASSERT_EQ(scorer->calls.size(), c.stretches.size()) << c.context;
      for (std::size_t k = 0; k < c.stretches.size(); ++k) {
        const auto [from, to] = c.stretches[k];
        const auto& call = scorer->calls[k];
        EXPECT_EQ(call.text, text.substr(from, to - from)) << "context " << c.context << " hit " << k << " cut " << cut;
        EXPECT_EQ(call.start + from, out.hits.at(k).start) << c.context;
        EXPECT_EQ(call.end + from, out.hits.at(k).end) << c.context;
      }
    }
  }
}

TEST(Stream, ScorerThatThrowsLosesNothing) {
  auto scorer = std::make_shared<LookBehindScorer>(4);
  const Tarnwhisk f = make({{word("damn")}, {}, NormalizationLevel::Basic, MatchMode::WordBoundary,
                            CensorStyle::LengthPreserving, U'*', scorer});
  const std::string text = "damn one, damn two, not damn three, damn";
  // Every call that may score is retried once it has thrown.
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    TextStream s = f.stream({.scorer_context = 4});
    TextStream::Output out;
    scorer->fail_next_ = true;
    int thrown = 0;
    auto call = [&](const std::function<void()>& fn) {
      try {
        fn();
      } catch (const std::runtime_error&) {
        ++thrown;
      }
    };
    call([&] { s.feed(std::string_view(text).substr(0, cut), out); });
    call([&] { s.feed(std::string_view(text).substr(cut), out); });
    call([&] { s.finish(out); });
    if (!s.finished()) s.finish(out);
    EXPECT_EQ(thrown, 1) << cut;
    EXPECT_EQ(out.hits, f.find(text)) << cut;
    EXPECT_EQ(out.censored, f.censor(text)) << cut;
  }
  // A chunk larger than the stream's slices is taken whole although the scorer throws
  // while it is worked on.
  std::string big;
  while (big.size() < 300'000) big += text + " ";
  TextStream s = f.stream({.scorer_context = 4});
  TextStream::Output out;
  scorer->fail_next_ = true;
  EXPECT_THROW(s.feed(big, out), std::runtime_error);
  EXPECT_EQ(s.consumed(), big.size());
  s.finish(out);
  EXPECT_EQ(out.hits, f.find(big));
  EXPECT_EQ(out.censored, f.censor(big));
}

// Random filters, texts and cuts.

const std::vector<std::string> kPieces = {
    "a", "b", "d", "s", "A", "D", "S", " ", " ", " ", ".", ",", "\n", "?", "'", "1", "4", "!", "$", "@", "i", "_",
    "-", "*", "bad", "BAD", "sad", "b.a.d", "baaad", "as", "dab", "\xE2\x80\x8B" /* zero width space */,
    "\xEF\xBC\x81" /* full-width ! */, "\xEF\xBD\x81" /* full-width a */, "\xC3\xA0" /* a grave */,
    "\xD0\xB0" /* Cyrillic a */, "\xE6\x97\xA5" /* 日 */, "\xE6\x9C\xAC" /* 本 */, "\xF0\x9F\x98\x80",
    "\xE2\x82", "\xFF", "\xC3", "\xEF\xAC\x80" /* ff */, "f", "\xEF\xB7\xBA" /* eighteen characters */};

std::string random_text(std::mt19937& rng, std::size_t pieces) {
  std::string out;
  for (std::size_t i = 0; i < pieces; ++i) out += kPieces[rng() % kPieces.size()];
  return out;
}

// Hashes the bytes within three of the hit; NaN now and then.
class NearScorer final : public SemanticScorer {
 public:
  float score(std::string_view text, const Match& hit) const override {
    const std::size_t from = hit.start >= 3 ? hit.start - 3 : 0;
    const std::string_view near = text.substr(from, hit.end + 3 - from);
    const std::size_t h = std::hash<std::string_view>()(near);
    if (h % 13 == 0) return std::nanf("");
    return static_cast<float>(h % 10) / 10.0f;
  }
};

Config random_config(std::mt19937& rng) {
  static const std::vector<std::string> kWords = {"bad", "ad", "b a d", "dab", "as", "sad", "bb", "a?b",
                                                  "\xE6\x97\xA5\xE6\x9C\xAC", "s_a", "af", "fb", "fs"};
  static const std::vector<std::string> kTerms = {"ad", "BA", "", "b a", "d\xE2\x80\x8B", "\xC3\xA0", "aaa",
                                                  "sad bad", "s", "\xE6\x97\xA5", "bad. a", "aa", "a a"};
  Config c;
  for (const std::string& w : kWords)
    if (rng() % 3 == 0) c.words.push_back(word(w, rng() % 4 == 0));
  if (c.words.empty()) c.words.push_back(word("bad"));
  if (rng() % 2)
    for (const std::string& t : kTerms)
      if (rng() % 4 == 0) c.allow.push_back(t);
  c.level = static_cast<NormalizationLevel>(rng() % 4);
  c.mode = static_cast<MatchMode>(rng() % 2);
  c.style = static_cast<CensorStyle>(rng() % 4);
  static const char32_t kMasks[] = {U'*', U'#', 0xE9, 0x2588, 0x1F600};
  c.mask = kMasks[rng() % 5];
  if (rng() % 4 == 0) c.scorer = std::make_shared<NearScorer>();
  return c;
}

// Chunk ends for `size` bytes: sizes up to a limit chosen from one byte to a mebibyte,
// empty chunks included.
std::vector<std::size_t> random_cuts(std::mt19937& rng, std::size_t size, std::size_t smallest = 0) {
  static const std::size_t kLimits[] = {1, 2, 3, 5, 16, 100, 4096, 65537, std::size_t{1} << 20};
  const std::size_t limit = kLimits[smallest + rng() % (std::size(kLimits) - smallest)];
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0; at < size;) {
    at = std::min(size, at + rng() % (limit + 1));
    cuts.push_back(at);
  }
  return cuts;
}

TEST(Stream, RandomTextsFiltersAndCuts) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 1500; ++round) {
    const Config c = random_config(rng);
    const Tarnwhisk f = make(c);
    const std::string text = random_text(rng, rng() % 300);
    const StreamOptions options{.censor = rng() % 5 != 0, .scorer_context = 3 + rng() % 40};
    check(f, text, random_cuts(rng, text.size()), "round " + std::to_string(round), options);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "text '" << text << "' words " << c.words.size() << " terms " << c.allow.size();
      return;
    }
  }
}

// Texts of a few MB, so that chunks up to a mebibyte and the stream's own slicing of
// them are exercised.
TEST(Stream, RandomLongTexts) {
  std::mt19937 rng(77);
  for (int round = 0; round < 6; ++round) {
    Config c = random_config(rng);
    if (round % 2) c.scorer = std::make_shared<NearScorer>();
    const Tarnwhisk f = make(c);
    const std::string unit = random_text(rng, 5000);
    std::string text;
    while (text.size() < 3'000'000) text += unit.substr(rng() % 100);
    check(f, text, random_cuts(rng, text.size(), 4), "long round " + std::to_string(round), {.scorer_context = 16});
  }
}

}  // namespace
}  // namespace tarnwhisk
