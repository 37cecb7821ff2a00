// (placeholder until the stage is written: passes text through unchanged)
#include "normalize/stages.hpp"

namespace tarnwhisk::collapse {

NormalizedText apply(NormalizedText in) { return in; }

}  // namespace tarnwhisk::collapse
