// (placeholder until the stage is written: passes text through unchanged)
#include "normalize/stages.hpp"

namespace tarnwhisk::homoglyph {

NormalizedText apply(NormalizedText in) { return in; }

}  // namespace tarnwhisk::homoglyph
