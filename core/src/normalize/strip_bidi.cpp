// (placeholder until the stage is written: passes text through unchanged)
#include "normalize/stages.hpp"

namespace tarnwhisk::strip_bidi {

NormalizedText apply(NormalizedText in) { return in; }

}  // namespace tarnwhisk::strip_bidi
