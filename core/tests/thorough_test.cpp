// The thorough level end to end on the built-in lists, where its known gaps were: the
// byte span of each hit (the marks of its last letter included, trailing punctuation
// left out), and texts that must stay clean. One filter per language, built once.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tarnwhisk/config.hpp"
#include "tarnwhisk/data.hpp"

namespace tarnwhisk {
namespace {

const Tarnwhisk& thorough(Language lang) {
  static std::map<Language, Tarnwhisk> filters;
  auto it = filters.find(lang);
  if (it == filters.end()) {
    TarnwhiskBuilder b;
    b.normalization(NormalizationLevel::Thorough).language(lang);
    auto f = b.build();
    EXPECT_TRUE(f.ok());
    it = filters.emplace(lang, std::move(f.value())).first;
  }
  return it->second;
}

// The source bytes of each hit.
std::vector<std::string> hits(Language lang, const std::string& text) {
  std::vector<std::string> out;
  for (const Match& m : thorough(lang).find(text)) out.push_back(text.substr(m.start, m.end - m.start));
  return out;
}

struct Case {
  Language lang;
  std::string text;
  std::vector<std::string> found;  // the source of each hit, in order
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(hits(c.lang, c.text), c.found) << c.text;
}

constexpr Language En = Language::En;

TEST(ThoroughHits, CoverTheMarksOfTheirLastLetter) {
  check({
      {En, "s\u0301h\u0301i\u0301t\u0301", {"s\u0301h\u0301i\u0301t\u0301"}},
      {En, "so shit\u0301\u0302 now", {"shit\u0301\u0302"}},
      {En, "fuck\u20dd!", {"fuck\u20dd"}},                        // an enclosing mark
      {En, "s\u0301 h\u0301 i\u0301 t\u0301 x", {"s\u0301 h\u0301 i\u0301 t\u0301"}},  // joined letters
      {En, "shit \u0301", {"shit"}},                              // a mark after a space is not the word's
      {En, "shi\u0301t", {"shi\u0301t"}},                         // inside, as before
  });
}

constexpr Language Hi = Language::Hi;
constexpr Language Fr = Language::Fr;

// Trailing "!" after a run of l or i is punctuation, unless a letter follows it; a
// "!" that a word needs is still its letter.
TEST(ThoroughHits, LeaveTrailingPunctuationOutOfARun) {
  check({
      {En, "h3l1!", {"h3l1"}},
      {En, "helllll!", {"helllll"}},
      {En, "helllll!!", {"helllll"}},
      {En, "h3l1?!", {"h3l1"}},
      {En, "what the hell!!! ok", {"hell"}},
      {En, "he11!", {"he11"}},
      {En, "pak\U0001d408!", {"pak\U0001d408"}},  // a styled capital I, then "!"
      {En, "pak!!", {"pak!"}},                      // the first "!" is the i
      {Hi, "lull!", {"lull!"}},                    // "!" the i of "lulli"
      {Hi, "\u00ablull!\u00bb", {"lull!"}},
      // "!" as a letter, as before
      {En, "sh!t", {"sh!t"}},
      {En, "h3l!", {"h3l!"}},
      {En, "sh!!!t", {"sh!!!t"}},
      {En, "sh1t!", {"sh1t"}},
      {En, "h3ll!", {"h3ll"}},
      // and words that end so stay clean
      {En, "hello!!", {}},
      {En, "kill!!", {}},
      {En, "hell!o", {}},
  });
}

// The letter after a run of masks ends the masked word; it starts no chain of single
// letters with the words after it, while single letters between masks still join.
TEST(ThoroughHits, AMaskedWordKeepsItsLastLetter) {
  check({
      {Fr, "ils criaient co**e \u00e0 l'arbitre", {"co**e"}},
      {Fr, "co**e a l", {"co**e"}},
      {Fr, "fout*e a l", {"fout*e"}},
      {En, "sh*t a s s", {"sh*t", "a s s"}},
      {En, "so f*u*c*k you", {"f*u*c*k you"}},
      {En, "f**k u", {"f**k"}},
  });
}

}  // namespace
}  // namespace tarnwhisk
