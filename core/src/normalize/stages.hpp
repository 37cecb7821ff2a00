// The normalisation stages, in pipeline order. Each consumes a NormalizedText and
// returns a new one whose offsets still refer to the original source: entries are only
// copied, repeated, merged or dropped, never translated.
#pragma once

#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk {

namespace strip_bidi { NormalizedText apply(NormalizedText in); }
namespace nfkc { NormalizedText apply(NormalizedText in); }
namespace casefold { NormalizedText apply(NormalizedText in); }
namespace homoglyph { NormalizedText apply(NormalizedText in); }
namespace leetspeak { NormalizedText apply(NormalizedText in); }
namespace collapse { NormalizedText apply(NormalizedText in); }
namespace separators { NormalizedText apply(NormalizedText in); }

// The level-None text: a copy of `text` with one entry per source character.
NormalizedText source_copy(std::string_view text);

}  // namespace tarnwhisk
