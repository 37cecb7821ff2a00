#include "tarnwhisk/error.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace tarnwhisk {
namespace {

TEST(Error, TextForms) {
  EXPECT_EQ(Error::no_words().to_string(),
            "no words configured; enable a language feature or call add_words");
  EXPECT_EQ(Error::matcher_build("too many patterns (limit 3, got 4)").to_string(),
            "failed to build matcher automaton: too many patterns (limit 3, got 4)");
  std::ostringstream os;
  os << Error::matcher_build("x");
  EXPECT_EQ(os.str(), "failed to build matcher automaton: x");
}

TEST(Error, ResultHoldsEitherSide) {
  Result<int> good = 7;
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value(), 7);
  Result<int> bad = Error::no_words();
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().kind(), Error::Kind::NoWords);
}

}  // namespace
}  // namespace tarnwhisk
