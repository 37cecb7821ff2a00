#include "matcher/thorough_patterns.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <string>

#include "matcher/l_for_i.hpp"
#include "normalize/thorough.hpp"
#include "tarnwhisk/normalize.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

namespace {

// Real letters that writers put for another ("fvck"). The text keeps them as they are,
// so the other letters of the word must still match. (An l for an i is taken apart, see
// below: in a few words it spells a word of the dictionaries.)
constexpr std::pair<char, char> kStandIns[] = {{'u', 'v'}};

bool is_vowel(char c) noexcept { return std::string_view("aeouAU").find(c) != std::string_view::npos; }

// The characters of a word or phrase that masks may stand for: letters, codes, spaces.
constexpr const char* kMaskLetters = "abcdefghijklmnopqrstuvwxyzAGIJU ";

// A place where a word may be written more than one way, and how many ways.
struct ChoicePoint {
  std::size_t k;  // the character
  unsigned ways;
  enum Kind { kF, kDoubled, kPair, kRun } kind;
  std::size_t run = 0;  // kRun: the characters of the stretch
  char code = 0;        // kRun: the code that stands for all of them
};

// The most patterns one word may have (the places taken in order while they fit).
constexpr std::size_t kMaxVariants = 32;

// What may stand between the two letters of a word spelled out inside a phrase: "-",
// "_", "|" (J), "." alone or with a space (the middle dot and the bullet become "."),
// "~", "/", "*" and ",". (Space, tab, ":", ";" and "\\" stay out: "," already keeps the
// search from starting over after a clause.) The one-byte ones are one pattern byte that
// accepts any of them, so that each phrase has two such variants, not nine: the
// automaton of a thorough filter is built in the time it took with three separators.
constexpr char kAnyChainSeparator = '\x01';
constexpr const char* kChainSeparators[] = {"\x01", ". "};

// Calls emit with the phrase `pattern` in which each word of two single letters has `sep`
// between them, and `choice` with its places moved to match; not at all when the phrase
// has no such word or a character of more than one byte.
template <typename Emit>
void spread_two_letter_words(const std::string& pattern, const PatternChoice& choice, std::string_view sep, Emit emit) {
  auto listed = [](const std::vector<std::uint32_t>& v, std::size_t k) { return std::find(v.begin(), v.end(), k) != v.end(); };
  std::string out;
  std::vector<std::uint32_t> moved(pattern.size(), 0);  // where each character goes
  bool any = false;
  for (std::size_t b = 0; b < pattern.size(); ++b) {
    if (static_cast<unsigned char>(pattern[b]) >= 0x80) return;
    moved[b] = static_cast<std::uint32_t>(out.size());
    out += pattern[b];
    const bool starts_two = b + 1 < pattern.size() && pattern[b] != ' ' && pattern[b + 1] != ' ' &&
                            (b == 0 || pattern[b - 1] == ' ') && (b + 2 == pattern.size() || pattern[b + 2] == ' ') &&
                            !listed(choice.doubled, b) && !listed(choice.doubled, b + 1);
    if (starts_two) {
      out += sep;
      any = true;
    }
  }
  if (!any) return;
  PatternChoice c{choice.entry, {}, {}, {}};
  for (std::uint32_t k : choice.doubled) c.doubled.push_back(moved[k]);
  for (std::uint32_t k : choice.single) c.single.push_back(moved[k]);
  for (std::uint32_t k : choice.stretched) c.stretched.push_back(moved[k]);
  emit(std::move(out), std::move(c));
}

// Calls emit with the word `pattern` in which each hyphen between two letters has `sep`
// on both sides, and `choice` with its places moved to match; not at all when it has no
// such hyphen. A word with a hyphen spelled out keeps the separators around the hyphen,
// which is a separator run of its own ("c_a_s_s_e_-_c_o_u_i_l_l_e_s" reads
// "casse_-_couilles").
template <typename Emit>
void spread_hyphens(const std::string& pattern, const PatternChoice& choice, std::string_view sep, Emit emit) {
  std::string out;
  std::vector<std::uint32_t> moved(pattern.size(), 0);  // where each character goes
  bool any = false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  for (std::size_t b = 0; b < pattern.size(); ++b) {
    if (static_cast<unsigned char>(pattern[b]) >= 0x80) return;
    const bool hyphen = pattern[b] == '-' && b > 0 && b + 1 < pattern.size() && letter(pattern[b - 1]) && letter(pattern[b + 1]);
    if (hyphen) {
      out += sep;
      any = true;
    }
    moved[b] = static_cast<std::uint32_t>(out.size());
    out += pattern[b];
    if (hyphen) out += sep;
  }
  if (!any) return;
  PatternChoice c{choice.entry, {}, {}, {}};
  for (std::uint32_t k : choice.doubled) c.doubled.push_back(moved[k]);
  for (std::uint32_t k : choice.single) c.single.push_back(moved[k]);
  for (std::uint32_t k : choice.stretched) c.stretched.push_back(moved[k]);
  emit(std::move(out), std::move(c));
}

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
      t[c][c] = c != static_cast<unsigned char>(kAnyChainSeparator);
      if (c >= 'a' && c <= 'z') {
        add_letter(t[c], static_cast<unsigned char>(c));
      } else if (const std::uint32_t letters = thorough::letters_of(static_cast<unsigned char>(c))) {
        for (unsigned char x = 'a'; x <= 'z'; ++x)
          if (letters & (1u << (x - 'a'))) add_letter(t[c], x);
      }
    }
    for (const char sep : std::string_view("-_J.~/*,")) t[static_cast<unsigned char>(kAnyChainSeparator)][static_cast<unsigned char>(sep)] = true;
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
  // Every variant of every word, before the ones that may not stay are dropped.
  struct Variant {
    std::string pattern;
    PatternChoice choice;
    bool pairs;  // some two letters written as a run of their code
  };
  std::vector<Variant> variants_of_all;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const NormalizedText nt = normalize(entries[i].word, NormalizationLevel::Thorough);
    if (nt.text.empty()) continue;
    // The characters of the form, and the places where a word may be written more than
    // one way, which the text keeps apart, so that a word has a pattern for each choice:
    // an f as "ph"; a doubled letter as two different characters ("he1l": l and a code
    // for i or l), and a doubled f also as "phf", "fph" or "phph"; two different letters
    // that one code stands for as a run of that code ("m||f", "@$5!1ck", "c@@chie").
    std::vector<std::pair<std::size_t, std::size_t>> chars;  // byte start, length
    for (std::size_t b = 0; b < nt.text.size();) {
      chars.emplace_back(b, utf8::char_len(nt.text, b));
      b += chars.back().second;
    }
    const std::uint64_t refused = l_for_i_refused(nt.text);
    auto doubled_at = [&](std::size_t k) { return (nt.flags[k] & kDoubled) != 0; };
    auto letter_at = [&](std::size_t k) { return chars[k].second == 1 ? nt.text[chars[k].first] : '\0'; };
    auto pair_code = [&](std::size_t k) -> char {  // the code for letters k and k+1, or 0
      if (k + 1 >= chars.size() || doubled_at(k) || doubled_at(k + 1)) return 0;
      const char x = letter_at(k), y = letter_at(k + 1);
      return x >= 'a' && x <= 'z' && y >= 'a' && y <= 'z' && x != y ? thorough::code_for(x, y) : 0;
    };
    // A stretch of letters that one code stands for, three or more with a double letter
    // counted twice, which the text may write as one run of characters that may each be
    // any of them ("ll!" or "||l" for the "lli" of "vollidiot", "11!" for the "ili" of
    // "cunnilingus"): collapse makes such a run one stretched character, as it does for
    // a letter stretched. The characters of the stretch that starts at k and its code, or
    // 0 when none does.
    auto stretch_at = [&](std::size_t k) -> std::pair<std::size_t, char> {
      for (const thorough::Code& code : thorough::kCodes) {
        if (code.code == 'J') continue;  // the same letters as I
        const std::uint32_t letters = thorough::letters_of(static_cast<unsigned char>(code.code));
        auto of_code = [&](std::size_t j) {
          const char x = letter_at(j);
          return x >= 'a' && x <= 'z' && (letters & (1u << (x - 'a'))) != 0;
        };
        if (!of_code(k) || (k > 0 && of_code(k - 1))) continue;
        std::size_t end = k, count = 0;
        for (; end < chars.size() && of_code(end); ++end) count += doubled_at(end) ? 2 : 1;
        if (count >= 3) return {end - k, code.code};
      }
      return {0, 0};
    };
    std::vector<ChoicePoint> points;
    std::size_t variants = 1;
    for (std::size_t k = 0; k < chars.size(); ++k) {
      if (const auto [run, code] = stretch_at(k); run != 0 && variants * 2 <= kMaxVariants) {
        points.push_back({k, 2, ChoicePoint::kRun, run, code});
        variants *= 2;
      }
      ChoicePoint p{k, 1, ChoicePoint::kPair};
      if (doubled_at(k)) {
        p = {k, letter_at(k) == 'f' ? 5u : 2u, ChoicePoint::kDoubled};
      } else if (letter_at(k) == 'f') {
        p = {k, 2, ChoicePoint::kF};
      } else if (pair_code(k) != 0) {
        p.ways = 2;
      }
      if (p.ways > 1 && variants * p.ways <= kMaxVariants) {
        points.push_back(p);
        variants *= p.ways;
      }
    }
    for (std::size_t v = 0; v < variants; ++v) {
      std::vector<unsigned> way(chars.size(), 0);  // the way chosen at each character
      std::vector<const ChoicePoint*> run_at(chars.size(), nullptr);  // a stretch taken as one run
      bool overlapping = false;
      for (std::size_t p = 0, rest = v; p < points.size(); rest /= points[p].ways, ++p) {
        const auto w = static_cast<unsigned>(rest % points[p].ways);
        if (points[p].kind == ChoicePoint::kRun) {
          if (w != 0) run_at[points[p].k] = &points[p];
          continue;
        }
        way[points[p].k] = w;
        // A pair taken as a code uses the next character too.
        overlapping = overlapping || (p > 0 && points[p - 1].kind == ChoicePoint::kPair &&
                                      points[p - 1].k + 1 == points[p].k && way[points[p - 1].k] != 0 &&
                                      way[points[p].k] != 0);
      }
      // A stretch taken as one run is written no other way, and no pair before it takes
      // its first letter.
      for (std::size_t k = 0; k < chars.size() && !overlapping; ++k) {
        if (run_at[k] == nullptr) continue;
        for (std::size_t j = k; j < k + run_at[k]->run; ++j) overlapping = overlapping || way[j] != 0;
        overlapping = overlapping || (k > 0 && way[k - 1] != 0 && pair_code(k - 1) != 0 && !doubled_at(k - 1) && letter_at(k - 1) != 'f');
      }
      if (overlapping) continue;
      bool pairs = false;
      std::string pattern;
      PatternChoice choice{static_cast<std::uint32_t>(i), {}, {}, {}};
      std::uint32_t position = 0;  // characters of an occurrence so far
      for (std::size_t k = 0; k < chars.size(); ++k) {
        const auto [b, len] = chars[k];
        const bool doubled = doubled_at(k);
        if (run_at[k] != nullptr) {  // a stretch as one run of its code
          pairs = true;
          pattern += run_at[k]->code;
          choice.stretched.push_back(position);
          ++position;
          k += run_at[k]->run - 1;
          continue;
        }
        if (way[k] != 0 && !doubled && letter_at(k) == 'f') {  // f as "ph"
          pattern += "ph";
          position += 2;
          continue;
        }
        if (way[k] != 0 && doubled) {  // a double letter as two characters
          static constexpr const char* kDoubleF[] = {"", "ff", "phf", "fph", "phph"};
          if (letter_at(k) == 'f') {
            pattern += kDoubleF[way[k]];
            position += static_cast<std::uint32_t>(std::string_view(kDoubleF[way[k]]).size());
          } else {
            // Neither may be a double letter of the text: "ll!" is a double l and "!"
            // ("hell!!!" ends before the "!"), "lll!" or "l1!" may be three.
            pattern.append(nt.text, b, len);
            pattern.append(nt.text, b, len);
            choice.single.push_back(position);
            choice.single.push_back(position + 1);
            position += 2;
          }
          continue;
        }
        if (way[k] != 0) {  // two letters as one run of their code
          pairs = true;
          pattern += pair_code(k);
          choice.doubled.push_back(position);
          ++position;
          ++k;
          continue;
        }
        if (doubled) choice.doubled.push_back(position);
        const char ch = nt.text[b];
        if (len == 1 && !doubled && thorough::is_letter(static_cast<unsigned char>(ch))) choice.single.push_back(position);
        // An i may be written l ("dlck", "bltch", "mlerda"), but where that spells a
        // word of the dictionaries ("darkle").
        if (ch == 'i' && len == 1 && (k >= 64 ? k + 1 == chars.size() || !is_vowel(nt.text[chars[k + 1].first])
                                              : !(refused >> k & 1))) {
          pattern += 'I';
        } else {
          pattern.append(nt.text, b, len);
        }
        ++position;
      }
      variants_of_all.push_back({pattern, choice, pairs});
      // A phrase spelled out letter by letter keeps the separator inside a word of two
      // letters (two single letters never join alone): "s.u.c.k m.y b.a.l.l.s" reads
      // "suck m.y balls". The phrase with each such word so, for every separator.
      // (The plain spelling only: every variant so would grow the automaton by as much
      // again for little.)
      if (v == 0 && pattern.find(' ') != std::string::npos) {
        for (const char* sep : kChainSeparators)
          spread_two_letter_words(pattern, choice, sep, [&](std::string p, PatternChoice c) {
            variants_of_all.push_back({std::move(p), std::move(c), pairs});
          });
      }
      // A word with a hyphen spelled out letter by letter: the separators around the
      // hyphen stay, for every separator that joins them and the space. (The plain
      // spelling only, as above.)
      if (v == 0 && pattern.find('-') != std::string::npos) {
        for (const char* sep : kChainSeparators)
          spread_hyphens(pattern, choice, sep, [&](std::string p, PatternChoice c) {
            variants_of_all.push_back({std::move(p), std::move(c), pairs});
          });
        spread_hyphens(pattern, choice, " ", [&](std::string p, PatternChoice c) {
          variants_of_all.push_back({std::move(p), std::move(c), pairs});
        });
      }
      // A phrase spelled out letter by letter loses its spaces with the separators
      // ("c a m e l j o c k e y"): the phrase without them, for letters joined so.
      if (pattern.find(' ') != std::string::npos) {
        std::string joined;
        PatternChoice without{choice.entry, {}, {}, {}};
        std::uint32_t pos = 0, kept = 0;  // characters of the phrase, and of it without spaces
        for (std::size_t b = 0; b < pattern.size(); ++pos) {
          const std::size_t len = utf8::char_len(pattern, b);
          if (len == 1 && b >= 2 && pattern[b - 1] == ' ' && pattern[b - 2] == pattern[b] && pattern[b] != ' ') {
            // The same letter on both sides of a space runs together in the text, as one
            // doubled letter ("d u m b b i t c h").
            if (std::find(without.doubled.begin(), without.doubled.end(), kept - 1) == without.doubled.end())
              without.doubled.push_back(kept - 1);
            std::erase(without.single, kept - 1);
          } else if (pattern[b] != ' ') {
            if (std::find(choice.doubled.begin(), choice.doubled.end(), pos) != choice.doubled.end())
              without.doubled.push_back(kept);
            if (std::find(choice.single.begin(), choice.single.end(), pos) != choice.single.end())
              without.single.push_back(kept);
            if (std::find(choice.stretched.begin(), choice.stretched.end(), pos) != choice.stretched.end())
              without.stretched.push_back(kept);
            joined.append(pattern, b, len);
            ++kept;
          }
          b += len;
        }
        variants_of_all.push_back({std::move(joined), std::move(without), pairs});
      }
    }
    // Masks: a word of letters may be written with "*" for a stretch of its inner
    // letters; such tokens are matched apart from the automaton (see ScanStream), against
    // the word's letters with each doubled one written twice.
    if (nt.text.find_first_not_of(kMaskLetters) == std::string::npos && chars.size() >= 2 &&
        nt.text.front() != ' ' && nt.text.back() != ' ' && nt.text.find("  ") == std::string::npos) {
      std::string letters;
      for (std::size_t k = 0; k < chars.size(); ++k) {
        letters += nt.text[k];
        if ((nt.flags[k] & kDoubled) && nt.text[k] != ' ') letters += nt.text[k];
      }
      out.choices.max_mask_word = std::max(out.choices.max_mask_word, letters.size());
      out.choices.max_mask_words = std::max<std::size_t>(
          out.choices.max_mask_words, static_cast<std::size_t>(std::count(letters.begin(), letters.end(), ' ')) + 1);
      out.choices.mask_words.emplace_back(static_cast<std::uint32_t>(i), std::move(letters));
    }
  }
  // A run of a code that stands for two letters of one word must not also be a way of
  // writing another word in as many bytes: the automaton reports one pattern for an
  // occurrence, and a run that the text does not have would then hide the other word
  // ("cu1@" is "culo", not "culiao" with "li" and "ao" run together).
  const auto& accepts = thorough_accepts();
  std::map<std::size_t, std::vector<const Variant*>> by_size;
  for (const Variant& v : variants_of_all) by_size[v.pattern.size()].push_back(&v);
  auto hides_another = [&](const Variant& v) {
    for (const Variant* w : by_size[v.pattern.size()]) {
      if (w->choice.entry == v.choice.entry) continue;
      std::size_t j = 0;
      while (j < v.pattern.size() && (accepts[static_cast<unsigned char>(v.pattern[j])] &
                                      accepts[static_cast<unsigned char>(w->pattern[j])]).any())
        ++j;
      if (j == v.pattern.size()) return true;
    }
    return false;
  };
  for (const Variant& v : variants_of_all)
    if (!v.pairs || !hides_another(v)) add(v.pattern, v.choice);
  return out;
}

}  // namespace tarnwhisk
