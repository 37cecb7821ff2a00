// The ASCII classes pinned byte by byte: every stage, the one-pass normaliser and the
// whole-word test read them from one table, so a slip there would move every level at
// once. The expected sets are written out here, not derived from the table.
#include "ascii.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tarnwhisk {
namespace {

const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kLower = "abcdefghijklmnopqrstuvwxyz";
const std::string kDigits = "0123456789";

struct ClassCase {
  const char* name;
  std::uint8_t cls;
  std::string members;
};

TEST(Ascii, EachClassHoldsExactlyItsBytes) {
  const ClassCase cases[] = {
      {"letter", ascii::kLetter, kUpper + kLower},
      {"separator", ascii::kSeparator, std::string("\t *,-./:;\\_|")},
      {"symbol", ascii::kSymbol, "!$@"},
      {"leet", ascii::kLeet, "!$01345789@"},
      {"word byte", ascii::kWordByte, kUpper + kLower + kDigits + "_"},
  };
  for (const ClassCase& c : cases) {
    for (unsigned b = 0; b < 128; ++b) {
      const bool expected = c.members.find(static_cast<char>(b)) != std::string::npos;
      EXPECT_EQ((ascii::classes(b) & c.cls) != 0, expected) << c.name << " byte " << b;
    }
  }
  for (char32_t c : {U'\u00E9', U'\u00A0', U'\uFF01', U'\U0001F600'}) EXPECT_EQ(ascii::classes(c), 0);
}

TEST(Ascii, WordBytesBeyondAsciiSeparateWords) {
  for (unsigned b = 0x80; b < 0x100; ++b) EXPECT_FALSE(ascii::is_word_byte(static_cast<unsigned char>(b))) << b;
}

struct FoldCase {
  char from;
  char to;
};

TEST(Ascii, FoldIsCasefoldThenLeetspeak) {
  const FoldCase changed[] = {
      {'!', 'i'}, {'$', 's'}, {'0', 'o'}, {'1', 'i'}, {'3', 'e'}, {'4', 'a'}, {'5', 's'},
      {'7', 't'}, {'8', 'b'}, {'9', 'g'}, {'@', 'a'}, {'A', 'a'}, {'M', 'm'}, {'Z', 'z'},
  };
  for (unsigned b = 0; b < 128; ++b) {
    char expected = static_cast<char>(b);
    if (b >= 'A' && b <= 'Z') expected = static_cast<char>(b + 32);
    for (const FoldCase& c : changed)
      if (c.from == static_cast<char>(b)) expected = c.to;
    EXPECT_EQ(ascii::kFold[b], expected) << "byte " << b;
  }
}

}  // namespace
}  // namespace tarnwhisk
