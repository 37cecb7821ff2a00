// The pipeline as a whole: what each level makes of a text, how normalised spans map
// back to the source, the offset-map invariants on random text, and the one-pass
// pipeline against the stages run one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "normalize/piece_normalizer.hpp"
#include "normalize/stages.hpp"
#include "reference/naive_normalize.hpp"
#include "thorough_pieces.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

// The replacement operator new below pairs malloc with free, which GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts allocations, to hold normalize() to one per output buffer.
static std::size_t g_allocations = 0;
void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tarnwhisk {

void PrintTo(const SourceRange& r, std::ostream* os) { *os << "(" << r.start << "," << r.end << ")"; }

namespace {

using Offsets = std::vector<SourceRange>;
using Span = std::pair<std::size_t, std::size_t>;
constexpr NormalizationLevel kNone = NormalizationLevel::None;
constexpr NormalizationLevel kBasic = NormalizationLevel::Basic;
constexpr NormalizationLevel kAggressive = NormalizationLevel::Aggressive;
constexpr NormalizationLevel kLevels[] = {kNone, kBasic, kAggressive};

struct LevelCase {
  NormalizationLevel level;
  std::string input;
  std::string text;
  Offsets offsets;
};

void run_cases(const std::vector<LevelCase>& cases) {
  for (const LevelCase& c : cases) {
    const NormalizedText nt = normalize(c.input, c.level);
    EXPECT_EQ(nt.text, c.text) << "input: " << c.input << " level " << int(c.level);
    EXPECT_EQ(nt.offsets, c.offsets) << "input: " << c.input << " level " << int(c.level);
  }
}

TEST(Normalize, EmptyTextAtEveryLevel) {
  for (NormalizationLevel level : kLevels) {
    const NormalizedText nt = normalize("", level);
    EXPECT_TRUE(nt.text.empty());
    EXPECT_TRUE(nt.offsets.empty());
  }
}

TEST(Normalize, LevelNoneCopiesTheSource) {
  run_cases({
      {kNone, "a\u20ACb", "a\u20ACb", {{0, 1}, {1, 4}, {4, 5}}},
      {kNone, "B.A.D\u200B", "B.A.D\u200B", {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 8}}},
      {kNone, "a\xFF", "a\xFF", {{0, 1}, {1, 2}}},
  });
}

TEST(Normalize, StagesRunInPipelineOrder) {
  run_cases({
      {kBasic, "Hello", "hello", {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}}},
      {kBasic, "heeeello", "hello", {{0, 1}, {1, 5}, {5, 6}, {6, 7}, {7, 8}}},
      // compatibility capitals are folded after NFKC, then collapsed
      {kBasic, "\uFF28\uFF29", "hi", {{0, 3}, {3, 6}}},
      {kBasic, "\uFF21\uFF41a", "a", {{0, 7}}},
      // NFKC output is folded by the homoglyph and leetspeak stages
      {kBasic, "\u00B5", "u", {{0, 2}}},
      {kBasic, "\uFF10\u2463", "oa", {{0, 3}, {3, 6}}},
      // leetspeak before collapse; NFKC's several characters collapse into one entry
      {kBasic, "!!!", "i", {{0, 3}}},
      {kBasic, "x\u2026", "x.", {{0, 1}, {1, 4}}},
      // removal before NFKC: a no-break space vanishes, a thin space becomes a space
      {kBasic, "a\u00A0b\u2009c", "ab c", {{0, 1}, {3, 4}, {4, 7}, {7, 8}}},
      // removed characters do not break a run
      {kBasic, "a\u200Ba\u200Ba", "a", {{0, 9}}},
      {kBasic, "b.a.d", "b.a.d", {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}}},
  });
}

TEST(Normalize, AggressiveJoinsLettersAfterCollapse) {
  run_cases({
      {kAggressive, "b.a.d", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {kAggressive, "B 4 D", "bad", {{0, 1}, {2, 3}, {4, 5}}},
      {kAggressive, "a.a.a", "aaa", {{0, 1}, {2, 3}, {4, 5}}},   // not collapsed again
      {kAggressive, "b...a", "ba", {{0, 1}, {4, 5}}},
      {kAggressive, "b...2", "b.2", {{0, 1}, {1, 4}, {4, 5}}},  // kept run stays collapsed
      {kAggressive, "b\u200B.\u200Ba", "ba", {{0, 1}, {8, 9}}},
      {kAggressive, "b\uFF0Ea", "ba", {{0, 1}, {4, 5}}},          // full-width full stop
      {kAggressive, "baaa.aaad", "baad", {{0, 1}, {1, 4}, {5, 8}, {8, 9}}},
      {kAggressive, "hi 2 you", "hi 2 you", {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8}}},
  });
}

TEST(Normalize, IllFormedBytesBecomeReplacementCharacters) {
  run_cases({
      {kBasic, "a\xFF\xFF\xFF" "b", "a\uFFFDb", {{0, 1}, {1, 4}, {4, 5}}},
      {kBasic, "\xE2\u200B\x80", "\uFFFD\uFFFD", {{0, 1}, {4, 5}}},
      {kBasic, "\xE2\u200B\x80\x80", "\uFFFD", {{0, 6}}},  // a run of three, not U+2000
      {kAggressive, "a.\xC0\xAF", "a.\uFFFD\uFFFD", {{0, 1}, {1, 2}, {2, 3}, {3, 4}}},
  });
}

// ---- source_span ----------------------------------------------------------------------

struct SpanCase {
  NormalizationLevel level;
  std::string input;
  std::size_t start, end;  // in the normalised text
  Span want;
};

TEST(SourceSpan, MapsSpansOfNormalisedText) {
  const std::vector<SpanCase> cases = {
      // whole characters map to the union of their ranges
      {kBasic, "Hello", 0, 5, {0, 5}},
      {kAggressive, "b.a.d", 0, 3, {0, 5}},
      {kAggressive, "b.a.d", 1, 2, {2, 3}},
      {kBasic, "heeeello", 1, 2, {1, 5}},
      {kBasic, "heeeello", 0, 5, {0, 8}},
      // one of several characters made from one source character gives all of it
      {kBasic, "\uFB01x", 0, 1, {0, 3}},
      {kBasic, "\uFB01x", 1, 3, {0, 4}},
      // removed characters inside the span are covered, those outside are not
      {kBasic, "a\u200Bb", 0, 2, {0, 5}},
      {kBasic, "\u200Bab\u200B", 0, 2, {3, 5}},
      {kAggressive, "x b.a.d y", 1, 4, {2, 7}},
      // spans that end or start inside a multi-byte character leave it out
      {kNone, "a\u00E9", 0, 2, {0, 1}},
      {kNone, "a\u00E9b", 2, 4, {3, 4}},
      {kNone, "\u00E9", 0, 1, {0, 1}},       // no whole character: offsets unchanged
      {kNone, "\U0001F525", 1, 3, {1, 3}},
      // empty spans and spans beyond the text
      {kBasic, "abc", 2, 2, {2, 2}},
      {kBasic, "", 0, 0, {0, 0}},
      {kBasic, "ab", 0, 100, {0, 2}},
      {kBasic, "ab", 5, 9, {5, 9}},
  };
  for (const SpanCase& c : cases) {
    const NormalizedText nt = normalize(c.input, c.level);
    EXPECT_EQ(nt.source_span(c.start, c.end), c.want)
        << c.input << " [" << c.start << "," << c.end << ") level " << int(c.level);
    SpanMapper mapper(nt);
    EXPECT_EQ(mapper.map(c.start, c.end), c.want) << c.input;
  }
}

TEST(SpanMapper, AgreesWithSourceSpanOnSpansAskedInOrder) {
  std::mt19937_64 rng(99);
  for (int round = 0; round < 300; ++round) {
    const std::string src = reference::disguised_text(rng, 1 + rng() % 30);
    for (NormalizationLevel level : kLevels) {
      const NormalizedText nt = normalize(src, level);
      const std::size_t n = nt.text.size() + 2;
      std::vector<std::size_t> starts(1 + rng() % 8);
      for (std::size_t& s : starts) s = rng() % n;
      std::sort(starts.begin(), starts.end());
      SpanMapper mapper(nt);
      for (std::size_t s : starts) {
        const std::size_t e = s + rng() % 12;  // sometimes empty, sometimes mid-character
        ASSERT_EQ(mapper.map(s, e), nt.source_span(s, e)) << src << " [" << s << "," << e << ")";
      }
    }
  }
}

// ---- invariants and the one-pass pipeline on random text ------------------------------

TEST(Normalize, KeepsTheOffsetMapInvariantsOnRandomText) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 500; ++round) {
    const std::string src = reference::disguised_text(rng, 1 + rng() % 50);
    std::vector<bool> boundary(src.size() + 1, false);
    for (std::size_t i = 0; i < src.size(); i += utf8::char_len(src, i)) boundary[i] = true;
    boundary[src.size()] = true;
    for (NormalizationLevel level : kLevels) {
      const NormalizedText nt = normalize(src, level);
      ASSERT_EQ(nt.offsets.size(), utf8::count_chars(nt.text)) << src;
      for (std::size_t k = 0; k < nt.offsets.size(); ++k) {
        const SourceRange r = nt.offsets[k];
        ASSERT_LT(r.start, r.end) << src;
        ASSERT_LE(r.end, src.size()) << src;
        ASSERT_TRUE(boundary[r.start] && boundary[r.end]) << src;
        if (k > 0) {
          ASSERT_LE(nt.offsets[k - 1].start, r.start) << src;
        }
      }
      if (level != kNone) {  // the stages write U+FFFD for stray bytes: output is well formed
        for (std::size_t i = 0; i < nt.text.size(); i += utf8::char_len(nt.text, i))
          ASSERT_FALSE(utf8::char_len(nt.text, i) == 1 && static_cast<unsigned char>(nt.text[i]) >= 0x80) << src;
      }
    }
  }
}

TEST(Normalize, OnePassEqualsStagesOneByOne) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    const std::string src = reference::disguised_text(rng, 1 + rng() % 60);
    for (NormalizationLevel level : kLevels) {
      const NormalizedText fast = normalize(src, level);
      const NormalizedText staged = normalize_by_stages(src, level);
      const NormalizedText naive = reference::normalize(src, level);
      ASSERT_EQ(fast.text, naive.text) << src << " level " << int(level);
      ASSERT_EQ(fast.offsets, naive.offsets) << src << " level " << int(level);
      ASSERT_EQ(fast.flags, naive.flags) << src << " level " << int(level);
      ASSERT_EQ(staged.text, naive.text) << src << " level " << int(level);
      ASSERT_EQ(staged.offsets, naive.offsets) << src << " level " << int(level);
      ASSERT_EQ(staged.flags, naive.flags) << src << " level " << int(level);
    }
  }
}

// Long, mostly-ASCII texts take the paths that move many bytes at a time and fill the
// staging buffers; each text is also tried from every offset into a 16-byte block.
TEST(Normalize, OnePassEqualsReferenceOnLongMostlyAsciiText) {
  std::mt19937_64 rng(777);
  for (int round = 0; round < 60; ++round) {
    const std::size_t foreign_every = round % 3 == 0 ? 0 : (round % 3 == 1 ? 400 : 8);
    const std::string long_text = reference::ascii_heavy_text(rng, 1000 + rng() % 6000, foreign_every);
    for (std::size_t shift = 0; shift < 16; shift += (round % 4 == 0 ? 1 : 5)) {
      const std::string src = long_text.substr(shift);
      for (NormalizationLevel level : kLevels) {
        const NormalizedText fast = normalize(src, level);
        const NormalizedText naive = reference::normalize(src, level);
        ASSERT_EQ(fast.text, naive.text) << "round " << round << " shift " << shift << " level " << int(level);
        ASSERT_EQ(fast.offsets, naive.offsets) << "round " << round << " shift " << shift << " level " << int(level);
        ASSERT_EQ(fast.flags, naive.flags) << "round " << round << " shift " << shift << " level " << int(level);
      }
    }
  }
}

TEST(Normalize, OnePassEqualsReferenceAtBlockEdges) {
  // Runs and separator runs ending just before, at and after 16-byte edges, after a
  // prefix that puts them anywhere in a block.
  std::vector<std::string> texts;
  for (std::size_t prefix = 0; prefix < 20; ++prefix) {
    for (const char* tail : {"aa", "aaa", "aaaa", "a.b", "a. b", "ab...", "a. ", " .b", "Aa!", "1!i",
                             "\u00E9ee", "a\u200Bb", "\u2026a", "a b c d e f g h i j k l m n o p q",
                             "x --- y", "b.a.d", "z\xFFz", "o0O0o"}) {
      for (char fill : {'x', ' ', '.', 'A'}) {
        std::string src(prefix, fill);
        src += tail;
        src += std::string(31 - prefix % 16, 'q');
        src += tail;
        texts.push_back(src);
      }
    }
  }
  for (const std::string& src : texts) {
    for (NormalizationLevel level : {kBasic, kAggressive}) {
      const NormalizedText fast = normalize(src, level);
      const NormalizedText naive = reference::normalize(src, level);
      ASSERT_EQ(fast.text, naive.text) << src << " level " << int(level);
      ASSERT_EQ(fast.offsets, naive.offsets) << src << " level " << int(level);
      ASSERT_EQ(fast.flags, naive.flags) << src << " level " << int(level);
    }
  }
}

TEST(Normalize, OnePassEqualsReferenceOnEveryCharacter) {
  // Each character thrice between a letter and a separator: its own rules, collapse of
  // what they make, and the separator rule after it. Every character of the BMP, and
  // every seventh beyond it.
  for (char32_t c = 1; c <= 0x10FFFF; c += (c < 0x10000 ? 1 : 7)) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string src = "a";
    for (int k = 0; k < 3; ++k) utf8::encode(c, src);
    src += ".b";
    for (NormalizationLevel level : {kBasic, kAggressive}) {
      const NormalizedText fast = normalize(src, level);
      const NormalizedText naive = reference::normalize(src, level);
      ASSERT_EQ(fast.text, naive.text) << "U+" << std::hex << static_cast<unsigned>(c);
      ASSERT_EQ(fast.offsets, naive.offsets) << "U+" << std::hex << static_cast<unsigned>(c);
      ASSERT_EQ(fast.flags, naive.flags) << "U+" << std::hex << static_cast<unsigned>(c);
    }
  }
}

// Whether NFKC makes any character of `src` longer, in bytes or characters, than the
// source character, or `src` has a stray byte (written as three).
bool has_growing_character(const std::string& src) {
  for (std::size_t i = 0; i < src.size();) {
    const std::size_t len = utf8::char_len(src, i);
    const nfkc::Form f = nfkc::form(utf8::decode(src, i, len));
    if ((len == 1 && static_cast<unsigned char>(src[i]) >= 0x80) || f.len > len || f.bytes > len) return true;
    i += len;
  }
  return false;
}

TEST(Normalize, AllocatesEachOutputBufferOnceUnlessTheOutputGrows) {
  // One allocation per buffer; a second only for a text long enough to stage its output
  // more than once and with a character that grows (its exact bound is taken from there).
  std::mt19937_64 rng(5);
  std::vector<std::string> texts = {std::string(5000, 'a'), "\uFDFA\uFDFA\uFDFA x \u00BD\u00BD",
                                    std::string(3000, 'b') + "\uFDFA\u00BD x",
                                    std::string(3000, 'b') + "\xFF"};
  for (int round = 0; round < 300; ++round) texts.push_back(reference::disguised_text(rng, 1 + rng() % 200));
  for (int round = 0; round < 30; ++round) texts.push_back(reference::ascii_heavy_text(rng, 4000, 50));
  for (const std::string& src : texts) {
    const std::size_t times = src.size() > 512 && has_growing_character(src) ? 2 : 1;
    for (NormalizationLevel level : kLevels) {
      // Text and offsets, and flags at every level but None.
      const std::size_t allowed = times * (level == NormalizationLevel::None ? 2 : 3);
      const std::size_t before = g_allocations;
      const NormalizedText nt = normalize(src, level);
      ASSERT_LE(g_allocations - before, allowed) << src << " level " << int(level);
    }
  }
}

TEST(NormalizeInto, ReplacesTheResultAndReusesItsBuffers) {
  std::mt19937_64 rng(31);
  std::vector<std::string> texts = {"", "Hello", std::string(700, 'x') + " b.a.d \uFB01"};
  for (int round = 0; round < 200; ++round) texts.push_back(reference::disguised_text(rng, 1 + rng() % 60));
  for (int round = 0; round < 10; ++round) texts.push_back(reference::ascii_heavy_text(rng, 3000, 40));
  for (NormalizationLevel level : kLevels) {
    NormalizedText out;
    for (const std::string& src : texts) {
      normalize_into(src, level, out);
      const NormalizedText want = normalize(src, level);
      ASSERT_EQ(out.text, want.text) << src << " level " << int(level);
      ASSERT_EQ(out.offsets, want.offsets) << src << " level " << int(level);
      ASSERT_EQ(out.flags, want.flags) << src << " level " << int(level);
    }
    // A text no longer than the longest so far, with nothing that grows, fits the buffers.
    const std::string src = std::string(2000, 'y') + " Hello, w0rld";
    const std::size_t before = g_allocations;
    normalize_into(src, level, out);
    EXPECT_EQ(g_allocations, before) << "level " << int(level);
  }
}

}  // namespace
}  // namespace tarnwhisk

namespace tarnwhisk {
namespace {

// Random text for the thorough level's rules: single letters between separators (the
// chains that join), "|" and "*" (separator or letter and mask), symbols and digits that
// stand for letters, runs, look-alikes, marks and invisible characters.
std::string thorough_text(std::mt19937_64& rng, std::size_t pieces) {
  static const char* const kPieces[] = {
      "a", "b", "f", "u", "c", "k", "s", "h", "i", "t", "l", "o", "I", "A", "K", " ", " ", ".",
      "-", "_", "|", "*", "!", "1", "@", "$", "0", "3", "?", "'", "\n", "2", "ab", "hi", "aa",
      "\u00FC", "u\u0308", "\u0443", "\u0399", "\u0192", "\uA731", "\u00AD", "\u2060", "\u200B",
      "\u00A0", "\uFF01", "\uFF21", "\u00DF", "\u1E73", "\u0301", "\u65E5", "\U0001F525",
      "\uFDFA", "\xFF", "\xE2\x80"};
  std::string out;
  for (std::size_t i = 0; i < pieces; ++i) {
    const char* p = kPieces[rng() % std::size(kPieces)];
    for (int r = rng() % 5 == 0 ? 1 + static_cast<int>(rng() % 4) : 1; r > 0; --r) out += p;
  }
  return out;
}

// Chains of single letters, many of them equal or codes of one another, between runs of
// separators that are often the same.
std::string chain_text(std::mt19937_64& rng, std::size_t letters) {
  static const char* const kLetters[] = {"a", "a", "b", "i", "l", "1", "!", "@", "ab", "?"};
  static const char* const kRuns[] = {" ", " ", ".", "  ", " - ", "|"};
  std::string out;
  const char* run = kRuns[rng() % std::size(kRuns)];
  for (std::size_t i = 0; i < letters; ++i) {
    if (rng() % 4 == 0) run = kRuns[rng() % std::size(kRuns)];
    out += kLetters[rng() % std::size(kLetters)];
    out += run;
  }
  return out;
}

// Where the runs of equal characters meet the joining of single letters: the chain's
// first letter takes in the letters after it ("a a a" is one stretched a); a "|" merges
// into the stretched i or l before it, and a letter into the "|" run before it, where
// those runs then go.
const std::vector<std::string> kChainsThatMerge = {"x a a a y", "a a a", "b a a a a", "a  a  a  a", "a.a.a.b",
                                                   "1|1|i|l|", "!1|a|a", "||i|a|a", "a||i||b", "11|i|a|a|"};

TEST(Thorough, OnePassEqualsStages) {
  std::mt19937_64 rng(2026);
  std::vector<std::string> texts = kChainsThatMerge;
  for (int round = 0; round < 4000; ++round) texts.push_back(thorough_text(rng, 1 + rng() % 40));
  for (int round = 0; round < 2000; ++round) texts.push_back(chain_text(rng, 1 + rng() % 12));
  for (const std::string& src : texts) {
    const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
    const NormalizedText fast = normalize(src, NormalizationLevel::Thorough);
    ASSERT_EQ(fast.text, staged.text) << src;
    ASSERT_EQ(fast.offsets, staged.offsets) << src;
    ASSERT_EQ(fast.flags, staged.flags) << src;
  }
}

// Mostly-ASCII text for the paths that take 16 bytes at a time: words (capitalised,
// with doubled and stretched letters), single letters and chains of them (across long
// runs too), leetspeak,
// runs longer than a block, now and then any ASCII byte, and every `foreign_every`
// pieces on average (0: never) a piece of thorough_text.
std::string thorough_prose(std::mt19937_64& rng, std::size_t bytes, std::size_t foreign_every) {
  static const char* const kWords[] = {"the", "of", "And", "book", "little", "Seeing", "committee", "a", "I",
                                       "f u c k", "s.h.i.t", "b|a|d", "a b", "x - y - z", "h3ll0", "sh!t", "@ss",
                                       "a$$", "f**k", "ph0ne", "l1ke", "Aaah", "w0w", "i|l", "Is", "it's"};
  static const char* const kGaps[] = {" ", " ", " ", " ", ", ", ". ", "\n", "'", "-", " - ", "\t", "  ", "..", "_|_"};
  std::string out;
  while (out.size() < bytes) {
    const std::uint64_t r = rng() % 100;
    if (foreign_every != 0 && rng() % foreign_every == 0) {
      out += thorough_text(rng, 1);
    } else if (r < 2) {
      out.append(1 + rng() % 40, "aZ .!1|-"[rng() % 8]);
    } else if (r < 3) {  // a chain of single letters across runs that may be longer than a block
      static const char kSeparators[] = " .-\t*,/:;\\_~";
      const std::string run(1 + rng() % 24, kSeparators[rng() % (sizeof kSeparators - 1)]);
      for (std::size_t k = 2 + rng() % 3; k > 0; --k) (out += static_cast<char>('a' + rng() % 3)) += run;
    } else if (r < 4) {
      out += static_cast<char>(rng() % 128);
    } else if (r < 55) {
      out += kWords[rng() % std::size(kWords)];
    } else if (r < 70) {
      for (std::size_t k = 2 + rng() % 9; k > 0; --k) out += static_cast<char>((rng() % 4 == 0 ? 'A' : 'a') + rng() % 26);
    } else {
      out += kGaps[rng() % std::size(kGaps)];
    }
  }
  return out;
}

// Long texts, each tried from every offset into a 16-byte block.
TEST(Thorough, OnePassEqualsStagesOnLongMostlyAsciiText) {
  std::mt19937_64 rng(4242);
  for (int round = 0; round < 48; ++round) {
    const std::size_t foreign_every = round % 3 == 0 ? 0 : (round % 3 == 1 ? 300 : 10);
    const std::string long_text = round % 4 == 3 ? reference::ascii_heavy_text(rng, 500 + rng() % 3000, foreign_every)
                                                 : thorough_prose(rng, 500 + rng() % 3000, foreign_every);
    for (std::size_t shift = 0; shift < 16; ++shift) {
      const std::string src = long_text.substr(shift);
      const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
      const NormalizedText fast = normalize(src, NormalizationLevel::Thorough);
      ASSERT_EQ(fast.text, staged.text) << "round " << round << " shift " << shift;
      ASSERT_EQ(fast.offsets, staged.offsets) << "round " << round << " shift " << shift;
      ASSERT_EQ(fast.flags, staged.flags) << "round " << round << " shift " << shift;
    }
  }
}

TEST(Thorough, PiecesWithTheStableFrontTakenOffEqualStages) {
  std::mt19937_64 rng(61);
  std::vector<std::string> texts = kChainsThatMerge;
  for (int round = 0; round < 2000; ++round) texts.push_back(thorough_text(rng, 1 + rng() % 40));
  for (int round = 0; round < 2000; ++round) texts.push_back(chain_text(rng, 1 + rng() % 12));
  for (int round = 0; round < 60; ++round) texts.push_back(thorough_prose(rng, 200 + rng() % 2000, round % 2 ? 0 : 20));
  for (const std::string& src : texts) {
    const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
    const NormalizedText cut = test::thorough_in_pieces(src, rng, src.size() > 100 ? 1 + rng() % 100 : 1 + rng() % 8);
    ASSERT_EQ(cut.text, staged.text) << src;
    ASSERT_EQ(cut.offsets, staged.offsets) << src;
    ASSERT_EQ(cut.flags, staged.flags) << src;
  }
}

// Table cases: what the level makes of disguises, and what it leaves alone. `doubled`
// and `joined` list the characters (by index) with those flags.
TEST(Thorough, Cases) {
  struct Case {
    const char* input;
    const char* text;
    std::vector<std::size_t> doubled;
    std::vector<std::size_t> joined;
  };
  const std::vector<Case> cases = {
      // diacritics and case in every script, decomposed too
      {"F\u00FCck", "fuck", {}, {}},
      {"fu\u0308ck", "fuck", {}, {}},
      {"f\u1E73ck", "fuck", {}, {}},
      {"s\u0301h\u0301i\u0301t\u0301", "shit", {}, {}},
      {"CABR\u00D3N", "cabron", {}, {}},
      {"SCHEI\u00DFE", "scheise", {5}, {}},  // the sharp s folds to "ss"
      // look-alikes, one letter or two
      {"\u0192uck \uA731hit", "fuck shit", {}, {}},
      {"f\u0443ck", "fUck", {}, {}},  // Cyrillic u: u or y
      {"SH\u0399T", "shIt", {}, {}},  // Greek capital iota: i or l
      // invisible characters of every kind go; no-break spaces separate words
      {"a\u00ADb\u2060c\u2062d\u180Ee\u3164f\uFE0Fg\U000E0041h", "abcdefgh", {}, {}},
      {"ab\u00A0cd\u202Fef\u2007gh", "ab cd ef gh", {}, {}},
      // leetspeak: one-letter symbols fold, two-letter ones keep a code
      {"h3l1 sh!t @ss a$$ sh|t", "helI shIt As as shJt", {11, 14}, {}},
      {"aa@ a@ ii1 l1", "a aA i lI", {0, 5}, {}},  // a stretched letter takes in its codes
      // single letters join across separators; words never do
      {"f u c k", "fuck", {}, {1, 2, 3}},
      {"f..u..c..k", "fuck", {}, {1, 2, 3}},
      {"f|u|c|k, f*u*c*k, f_u_c_k", "fuck, fuck, fuck", {}, {1, 2, 3, 7, 8, 9, 13, 14, 15}},
      {"f u c k u", "fucku", {}, {1, 2, 3, 4}},
      {"f**k u", "f*k u", {1}, {}},  // a mask and a space: no chain
      {"s u c k e r s", "suckers", {}, {1, 2, 3, 4, 5, 6}},  // a chain may run on
      {"I f u c k you", "ifuck you", {}, {1, 2, 3, 4}},
      {"s hit, sh it, as shole, pen is", "s hit, sh it, as shole, pen is", {}, {}},
      {"a b", "a b", {}, {}},  // two single letters stay apart
      // masks stay where they stand inside a word
      {"f**k s*x", "f*k s*x", {1}, {}},
      // runs of any length become one character, flagged when two or more
      {"fuuuuck asssss as", "fuck as as", {1, 6}, {}},
      {"good", "god", {1}, {}},
  };
  for (const Case& c : cases) {
    for (bool by_stages : {false, true}) {
      const NormalizedText nt = by_stages ? normalize_by_stages(c.input, NormalizationLevel::Thorough)
                                          : normalize(c.input, NormalizationLevel::Thorough);
      EXPECT_EQ(nt.text, c.text) << c.input;
      std::vector<std::size_t> doubled, joined;
      for (std::size_t k = 0; k < nt.flags.size(); ++k) {
        if (nt.flags[k] & kDoubled) doubled.push_back(k);
        if (nt.flags[k] & kJoined) joined.push_back(k);
      }
      EXPECT_EQ(doubled, c.doubled) << c.input;
      EXPECT_EQ(joined, c.joined) << c.input;
    }
  }
  // The whole source of a disguised word lies in its span: "f u c k" is one word from
  // its first to its last byte, "asssss" all of it.
  const NormalizedText spaced = normalize("the f u c k", NormalizationLevel::Thorough);
  EXPECT_EQ(spaced.source_span(4, 8), std::make_pair(std::size_t{4}, std::size_t{11}));
  const NormalizedText stretched = normalize("asssss", NormalizationLevel::Thorough);
  EXPECT_EQ(stretched.source_span(0, 2), std::make_pair(std::size_t{0}, std::size_t{6}));
}

}  // namespace
}  // namespace tarnwhisk
