// Small helpers several test programs share.
#pragma once

#include <cstddef>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk::test_support {

// A hit of the matcher over source bytes [start, end), the other fields left at their
// defaults: what the allowlist and the censor are given.
inline Match hit(std::size_t start, std::size_t end) {
  Match m;
  m.start = start;
  m.end = end;
  return m;
}

}  // namespace tarnwhisk::test_support
