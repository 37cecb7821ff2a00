// The optional hook that lets a program veto hits by score.
#pragma once

#include <string_view>

#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

// Scores a hit in context; a filter keeps a hit whose score reaches its threshold and
// drops one that scores below it or NaN. Called from whichever threads call find, so an
// implementation must be safe to call concurrently.
class SemanticScorer {
 public:
  virtual ~SemanticScorer() = default;
  // `text` is the caller's source text as passed to find; `hit` one of its hits.
  virtual float score(std::string_view text, const Match& hit) const = 0;
};

}  // namespace tarnwhisk
