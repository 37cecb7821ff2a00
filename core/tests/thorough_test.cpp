// The thorough level end to end on the built-in lists, where its known gaps were: the
// byte span of each hit (the marks of its last letter included, trailing punctuation
// left out), and texts that must stay clean. One filter per language, built once.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "normalize/stages.hpp"
#include "thorough_pieces.hpp"
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
constexpr Language De = Language::De;
constexpr Language Es = Language::Es;

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

// A mask hides a letter or two for each character of its run, any number for a run of
// three or more: a lone "#" between two digits is no word of seven letters.
TEST(ThoroughHits, AMaskStandsForAsManyLettersAsItsRunAllows) {
  check({
      {En, "f*k", {"f*k"}},
      {En, "b*ch", {"b*ch"}},
      {En, "a**hole", {"a**hole"}},
      {En, "f**king", {"f**king"}},
      {En, "motherf**r", {"motherf**r"}},
      {De, "so eine Sch***e", {"Sch***e"}},
      {En, "see http://example.org/5230?pid=5#6", {}},  // "schlong" would need five letters
      {De, "der Inhalt ist Pi*r^2", {}},                 // "pisser": three
      {Hi, "K*1", {}},                                    // "kanjari": five
      {De, "Sch*e", {}},
  });
}

// A character that stands for two letters is one single letter of a chain, and the same
// letter on both sides of a space in a spelled-out phrase runs together.
TEST(ThoroughHits, ChainsTakeTwoLetterCharactersAndJoinedDoubles) {
  check({
      {De, "s c h e i \u00df e", {"s c h e i \u00df e"}},
      {De, "du s.c.h.e.i.\u00df.e!", {"s.c.h.e.i.\u00df.e"}},
      {De, "S\u2022c\u2022H\u2022E\u2022I\u2022\u00df\u2022E", {"S\u2022c\u2022H\u2022E\u2022I\u2022\u00df\u2022E"}},
      {En, "d u m b b i t c h", {"d u m b b i t c h"}},
      {Hi, "l o d e l a g g a y e", {"l o d e l a g g a y e"}},
      {De, "so \u00df x", {}},
  });
}

// The ligatures that NFKC keeps ("\u0153", "\u00e6") are their two letters: the word
// matches its spelling without them, inside chains and masks too (the ligature had
// stayed one character that only the same ligature matched, and that broke chains).
TEST(ThoroughHits, LigaturesAreTheirTwoLetters) {
  check({
      {Fr, "t\u00eate de noeud", {"t\u00eate de noeud"}},
      {Fr, "TETE DE N\u0152UD", {"TETE DE N\u0152UD"}},
      {Fr, "t \u00ea t e d e n \u0153 u d", {"t \u00ea t e d e n \u0153 u d"}},
      {Fr, "t*te de n\u0153ud", {"t*te de n\u0153ud"}},
      {Fr, "quelle t*te de noeud!", {"t*te de noeud"}},
      // a ligature written again and again is a run of both its letters
      {Fr, "t\u00eate de n\u0153\u0153\u0153\u0153ud", {"t\u00eate de n\u0153\u0153\u0153\u0153ud"}},
      {Fr, "t\u00eate de n\u0153\u0153\u0153eeud!", {"t\u00eate de n\u0153\u0153\u0153eeud"}},
      {Fr, "t e t e d e n \u0153 \u0153 \u0153 u d", {"t e t e d e n \u0153 \u0153 \u0153 u d"}},
      {Fr, "t\u00eate de n\u0153\u20dd\u0153\u0153ud", {"t\u00eate de n\u0153\u20dd\u0153\u0153ud"}},
      // and ordinary words with them stay clean
      {Fr, "ma s\u0153ur et son c\u0153ur, une \u0153uvre", {}},
      {En, "an encyclop\u00e6dia of \u00e6ther", {}},
  });
}

// A symbol that stands for a letter is a single letter of a chain where it stands alone
// between separators, or next to other such symbols only ("\u00a1$.h.i.t": the "$" starts
// the chain); touching a letter it is punctuation, as before.
TEST(ThoroughHits, ChainsTakeSymbolsThatStandAlone) {
  check({
      {En, "$.h.i.t", {"$.h.i.t"}},
      {En, "d.!.c.k", {"d.!.c.k"}},
      {En, "'5|h|1|+|$'", {"5|h|1|+|$"}},
      {En, "you are such a d/!/P/$/H/!/7 ok", {"d/!/P/$/H/!/7"}},
      {En, "f.u.c.k!", {"f.u.c.k"}},
      {En, "he said $ h i t!", {"$ h i t"}},
      // each of a run of symbols that no letter touches: "\u00a1" stays apart
      {De, "\u00a1$~\u0441~\u04bb~3~1~\u00df!", {"$~\u0441~\u04bb~3~1~\u00df"}},
      {En, "\u00a1@.r.5.3.h.0.l.3.$!", {"@.r.5.3.h.0.l.3.$"}},
      {En, "\u00a1+_4_\u0433_\u0501!", {"+_4_\u0433_\u0501"}},
      {En, "$$.h.i.t", {"$$.h.i.t"}},
      // and prose with symbols stays clean
      {En, "it costs $ 5 . 00", {}},
      {En, "a + b + c", {}},
      {En, "meet @ 5 p m", {}},
      {En, "x ! ! y", {}},
      {En, "it costs $$ 5 . 00", {}},
      {En, "meet @@ 5 p m", {}},
  });
}

// A phrase spelled out letter by letter, with its words of two letters left as two
// single letters (which never join alone).
TEST(ThoroughHits, PhrasesTakeTheirWordsOfTwoLetters) {
  check({
      {En, "so s-u-c-k m-y b-a-l-l-s!", {"s-u-c-k m-y b-a-l-l-s"}},
      {Es, "m-e c-a-g-o e-n t-u m-a-d-r-e", {"m-e c-a-g-o e-n t-u m-a-d-r-e"}},
      {Es, "c|h|i|n|g|a t|u m|a|d|r|e", {"c|h|i|n|g|a t|u m|a|d|r|e"}},
      {Es, "c_h_i_n_g_a t_u m_a_d_r_e", {"c_h_i_n_g_a t_u m_a_d_r_e"}},
      // with dots, also followed by a space, and the middle dot and bullet that become them
      {En, "s.u.c.k m.y b.a.l.l.s", {"s.u.c.k m.y b.a.l.l.s"}},
      {Es, "h.i.j.o d.e p.e.r.r.a!", {"h.i.j.o d.e p.e.r.r.a"}},
      {Es, "h. i. j. o d. e p. e. r. r. a", {"h. i. j. o d. e p. e. r. r. a"}},
      {Hi, "b\u00b7h\u00b7e\u00b7n k\u00b7e l\u00b7o\u00b7d\u00b7e", {"b\u00b7h\u00b7e\u00b7n k\u00b7e l\u00b7o\u00b7d\u00b7e"}},
      {Fr, "f\u2022e\u2022r\u2022m\u2022e t\u2022a g\u2022u\u2022e\u2022u\u2022l\u2022e", {"f\u2022e\u2022r\u2022m\u2022e t\u2022a g\u2022u\u2022e\u2022u\u2022l\u2022e"}},
      // and with "/", "~", "*" and ","
      {Es, "m/e c/a/g/o e/n t/u m/a/d/r/e", {"m/e c/a/g/o e/n t/u m/a/d/r/e"}},
      {Hi, "k~u~t~t~e k~i a~u~l~a~a~d", {"k~u~t~t~e k~i a~u~l~a~a~d"}},
      {En, "l*i*c*k m*y b*a*l*l*s", {"l*i*c*k m*y b*a*l*l*s"}},
      {Hi, "b,h,e,n k,e l,o,d,e!", {"b,h,e,n k,e l,o,d,e"}},
      // a letter that ends a word spelled out ("o.f") starts no chain over spaces, which
      // would take the next word's first letter ("f a b"); the other way round it may
      {En, "s.o.n o.f a b.i.t.c.h", {"s.o.n o.f a b.i.t.c.h"}},
      {En, "s|o|n o|f a b|i|t|c|h!", {"s|o|n o|f a b|i|t|c|h"}},
      {En, "s,o,n o,f a w,h,o,r,e", {"s,o,n o,f a w,h,o,r,e"}},
      {En, "a s-h-i-t", {"s-h-i-t"}},
      // not yet with the other separators (see kChainSeparators)
      {Es, "m:e c:a:g:o e:n t:u m:a:d:r:e", {}},
      // and sentences that end with a word of two letters stay apart
      {En, "it is so. m.y b.a.l.l.s", {}},
      {En, "e.g. a.m. p.m. u.s.a", {}},
      // two letters alone stay apart
      {En, "a.m p.m", {}},
      {En, "b.j", {}},
  });
}

// A word with a hyphen spelled out letter by letter keeps the separators around the
// hyphen, a run of its own: the whole word is found, not only its last part.
TEST(ThoroughHits, HyphenatedWordsSpelledOut) {
  check({
      {Fr, "c_a_s_s_e_-_c_o_u_i_l_l_e_s", {"c_a_s_s_e_-_c_o_u_i_l_l_e_s"}},
      {Fr, "c.a.s.s.e.-.c.o.u.i.l.l.e.s!", {"c.a.s.s.e.-.c.o.u.i.l.l.e.s"}},
      {Fr, "c a s s e - c o u i l l e s", {"c a s s e - c o u i l l e s"}},
      {Fr, "c/a/$/s/e/-/c/o/u/i/l/l/e/s", {"c/a/$/s/e/-/c/o/u/i/l/l/e/s"}},
      // and two words around a dash stay two
      {Fr, "une casse - des tasses", {}},
  });
}

// Three characters in a row that may all be one letter are one stretched letter ("@4@",
// "4@@", "@44"), but for the codes of i or l, where "1l1" may be "ili".
TEST(ThoroughHits, MixedRunsOfALetterAndItsCodes) {
  check({
      {En, "@4@55", {"@4@55"}},
      {En, "so 5u@4@4@4r ok", {}},  // a phrase of the Hindi list, not English
      {Hi, "5u@4@4@4r k1 4ul44d", {"5u@4@4@4r k1 4ul44d"}},
      {En, "6@n6b@n6", {"6@n6b@n6"}},
      {Es, "g1l1pollas", {"g1l1pollas"}},
      {En, "a cool boat 4@4", {}},
      // a letter alone before two of its code, or a code alone before two of its letter
      {Fr, "4@@\u200f@@48ru+!", {"4@@\u200f@@48ru+!"}},  // "!" the i
      {Fr, "88888rRRrr4@@@@nnNLlLl3333rrRRr", {"88888rRRrr4@@@@nnNLlLl3333rrRRr"}},
      {En, "f4@@@@7@$$", {"f4@@@@7@$$"}},
      {Es, "mmmmm4@@rrr!1!!ccccc000nnnnn4444222000", {"mmmmm4@@rrr!1!!ccccc000nnnnn4444222000"}},
      {En, "fuckb0\u0443yy", {"fuckb0\u0443yy"}},  // Cyrillic u, for u or y
      {En, "a cool boat b@@t 4@@", {}},
  });
}

// A run of symbols standing for one letter is emphasis, not a letter the writer doubled,
// and so is a run with a symbol at either end: it may be a single letter of a word; real
// letters doubled may not ("Shiite").
TEST(ThoroughHits, ARunOfSymbolsMayBeASingleLetter) {
  check({
      {En, "sh!!t", {"sh!!t"}},
      {En, "what sh!!!t is this", {"sh!!!t"}},
      {En, "b!!tch", {"b!!tch"}},
      {Hi, "lull!!", {"lull!!"}},
      // and so is a symbol next to the letter it stands for, whose run it joins (the
      // hit covers it: "\u00a1" and "i" are one character of the text)
      {En, "\u00a1injun!", {"\u00a1injun"}},
      {En, "$shit", {"$shit"}},
      {En, "+tits", {"+tits"}},
      {En, "Shiite", {}},
      {En, "shiit", {}},
  });
}

// Letters of a word that one code stands for, three or more with a double letter counted
// twice, written as one run of characters that may each be any of them: collapse makes
// the run one stretched character, which the word takes for all of them. Two characters
// are no three letters.
TEST(ThoroughHits, AStretchOfLettersOfOneCodeMayBeOneRun) {
  check({
      {De, "v@ll!d!07", {"v@ll!d!07"}},  // lli: "ll!"
      {De, "v@||ld|@t", {"v@||ld|@t"}},  // "||l"
      {En, "p11l0ck", {"p11l0ck"}},      // ill: "11l"
      {En, "golllwog", {"golllwog"}},    // lli: a stretched l
      {En, "cunn11!n9u$", {"cunn11!n9u$"}},  // ili, no double letter
      {Hi, "lull1", {"lull1"}},
      {Fr, "cccc000uuuuu1!111ll00000nnnn", {"cccc000uuuuu1!111ll00000nnnn"}},
      {En, "k||| y@vrse!ph", {"k||| y@vrse!ph"}},
      // a run of two is not three letters, and plain words stay clean
      {De, "volldiot", {}},
      {En, "p1lock", {}},
      {En, "golly, what a jolly lily", {}},
      {En, "hellllo, still illegal", {}},
  });
}

// An e-mail address is no text: a listed word in its local part or its domain is no
// hit, as the basic level already has it for one right before or after the "@". The
// address must be well formed around the word ("." or "-" with a letter on either side,
// an "@" with a letter before and after); a local part ends 64 bytes after the word.
TEST(ThoroughHits, NoWordInsideAnEmailAddress) {
  std::string long_local;  // 64 bytes that collapse leaves as they are
  while (long_local.size() < 64) long_local += "ab";
  check({
      {En, "dick.smith@example.org", {}},
      {En, "mail dick-smith@example.org now", {}},
      {En, "dick.sm1th.jr@example.org", {}},
      {En, "dick.smith＠example.org", {}},         // a full-width "@"
      {En, "me@mail.dick.com", {}},
      {En, "me@mail.dick", {}},
      {En, "me@dick-and-co.shit.example.com", {}},
      {En, "hell@example.com, cock@example.com", {}},  // as at the basic level
      // not addresses, or not around the word
      {En, "dick.smith", {"dick"}},
      {En, "so.fuck.this", {"fuck"}},
      {En, "dick. smith@example.org", {"dick"}},
      {En, "dick.@example.org", {"dick"}},
      {En, "dick.smith@ example", {"dick"}},
      {En, "dick.smith @example", {"dick"}},
      {En, "what the fuck...@john", {"what the fuck"}},
      {En, "me.@mail.dick.com", {"dick"}},
      {En, "@mail.dick.com", {"dick"}},
      {En, "me @mail.dick.com", {"dick"}},
      {En, "dick." + long_local + "@example.org", {"dick"}},
      {En, "dick." + long_local.substr(1) + "@example.org", {}},
      {En, "f.u.c.k.smith@example.org", {"f.u.c.k"}},  // joined letters start a word
  });
}

// Addresses whose words are decided across pieces: the walk after a word waits for the
// next piece, and the walk back over a domain reads what the last piece left.
TEST(ThoroughHits, AddressesCutIntoPiecesAsWhole) {
  std::vector<std::string> parts = {"dick", "shit", "fuck", ".", "-", "@", "x", "ab", " ", "smith", "!", "..",
                                    "yzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyzyz"};
  std::string label;  // a domain label near the longest walk back
  while (label.size() < 256) label += "yz";
  parts.push_back(label.substr(0, 250));
  std::mt19937 rng(11);
  const std::vector<WordEntry> words = {{"dick", Category::Strong, 2, false}, {"shit", Category::Strong, 2, false},
                                        {"fuck", Category::Strong, 2, false}};
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}}) {
    auto make = [&](std::size_t bytes) {
      return TarnwhiskBuilder()
          .without_bundled(true)
          .add_words(words)
          .normalization(NormalizationLevel::Thorough)
          .piece_bytes(bytes)
          .build();
    };
    auto whole = make(0);
    auto cut = make(piece);
    ASSERT_TRUE(whole.ok() && cut.ok());
    for (int t = 0; t < 300; ++t) {
      std::string text;
      for (std::size_t n = 1 + rng() % 40; n > 0; --n) text += parts[rng() % parts.size()];
      ASSERT_EQ(whole.value().find(text), cut.value().find(text)) << "piece " << piece << ": " << text;
    }
    // The "@" at the far end of the walk back, and one byte beyond it.
    for (std::size_t n = 250; n <= 256; ++n) {
      const std::string text = "me@" + label.substr(0, n) + ".dick.com";
      ASSERT_EQ(whole.value().find(text), cut.value().find(text)) << "piece " << piece << ", label " << n;
    }
  }
}

// The one-pass writer, whole and in pieces whose stable front is taken off, agrees with
// the stages where the rules above meet: "!" after runs, masks after words, characters
// that are two letters inside chains, repeated ligatures, marks everywhere, a letter after
// a code that a block of ASCII letters goes on with ("@a" + "aaa...").
TEST(ThoroughText, OnePassAndPiecesEqualStagesWhereTheRulesMeet) {
  static const char* const kPieces[] = {"l", "l", "i", "1", "!", "!", "\uFF01", "\U0001D408", "a", "e", "s",
                                        "*", "*", "#", " ", " ", ".", "|", "?", "\u00DF", "\u0153", "\uFB00",
                                        "\u0301", "\u20DD", "\u200B", "h", "@", "co", "ab", "4", "6", "9", "b", "g", "\u0443",
                                        "\u0153", "\u00E6", "e", "aaaaaaaaaaaaaaaa"};
  std::mt19937_64 rng(2027);
  for (int round = 0; round < 6000; ++round) {
    std::string src;
    for (std::size_t k = 1 + rng() % 24; k > 0; --k) src += kPieces[rng() % std::size(kPieces)];
    const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
    const NormalizedText whole = normalize(src, NormalizationLevel::Thorough);
    ASSERT_EQ(whole.text, staged.text) << src;
    ASSERT_EQ(whole.offsets, staged.offsets) << src;
    ASSERT_EQ(whole.flags, staged.flags) << src;
    const NormalizedText all = test::thorough_in_pieces(src, rng, 4);
    ASSERT_EQ(all.text, staged.text) << src;
    ASSERT_EQ(all.offsets, staged.offsets) << src;
    ASSERT_EQ(all.flags, staged.flags) << src;
  }
}

// A run of NUL characters is one character, at the stages as in one pass (the stages
// kept them apart: their merge read a merged NUL as none).
TEST(ThoroughText, ARunOfNulCharactersIsOneCharacter) {
  const std::string src("a\0\0\0b", 5);
  const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
  const NormalizedText whole = normalize(src, NormalizationLevel::Thorough);
  EXPECT_EQ(staged.text, std::string("a\0b", 3));
  EXPECT_EQ(whole.text, staged.text);
  EXPECT_EQ(whole.offsets, staged.offsets);
  EXPECT_EQ(whole.flags, staged.flags);
}

// A "!" held apart after a stretched run of "|", which then starts a chain of single
// letters: the chain keeps the "!" as decided when the separators after it came (the
// one-pass writer had put it back as it was before; found by normalize_fuzz).
TEST(ThoroughText, AHeldBangThatStartsAChainIsDecidedBeforeTheChain) {
  const std::string src(";||g@ggggggggggggggggggggggg1gggg||||!||||g||||!||\xfd" "||!||8@\x00" "999||", 64);
  const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
  const NormalizedText whole = normalize(src, NormalizationLevel::Thorough);
  EXPECT_EQ(whole.text, staged.text);
  EXPECT_EQ(whole.offsets, staged.offsets);
  EXPECT_EQ(whole.flags, staged.flags);
}

// Symbols held apart before a chain of single letters: the chain takes back the run of
// separators after them, so they are held again and decided by what follows the chain
// ("!!!~!~!!" is "!" and one run of codes); a chain that takes back the symbols a
// separator just decided leaves nothing held; and symbols held again at the end of the
// text are punctuation there. And a word right after masks ends as one on the quick
// road for ASCII blocks too (found by normalize_fuzz and a long random search).
TEST(ThoroughText, SymbolsHeldBeforeAChainAreHeldAgainWhenItsRunsGo) {
  for (const std::string src : {"!!!~!~!!", "aaa!! ! ! !!", "aaa!! ! ! !! x", "aaa!! ! ! !! ! ! !!", "ii1!1.!.!",
                                "!!i|!*!*\uFF01", "!1|l|!|1", "!1|l|!|1!", "!!!~a~b~c",
                                // a word after masks, then 16 bytes of prose and a chain
                                "lu*uu\u200Bxu.cu kuuccuuu c k a", "lu#uu\u00E9xu.cu kuuccuuu c k !"}) {
    const NormalizedText staged = normalize_by_stages(src, NormalizationLevel::Thorough);
    const NormalizedText whole = normalize(src, NormalizationLevel::Thorough);
    EXPECT_EQ(whole.text, staged.text) << src;
    EXPECT_EQ(whole.offsets, staged.offsets) << src;
    EXPECT_EQ(whole.flags, staged.flags) << src;
    std::mt19937_64 rng(7);
    const NormalizedText pieces = test::thorough_in_pieces(src, rng, 3);
    EXPECT_EQ(pieces.text, staged.text) << src;
    EXPECT_EQ(pieces.offsets, staged.offsets) << src;
  }
}

}  // namespace
}  // namespace tarnwhisk
