// (placeholder until the stage is written: passes text through unchanged)
#include "normalize/stages.hpp"

namespace tarnwhisk::casefold {

NormalizedText apply(NormalizedText in) { return in; }

}  // namespace tarnwhisk::casefold
