// (placeholder until the stage is written: passes text through unchanged)
#include "normalize/stages.hpp"

namespace tarnwhisk::nfkc {

NormalizedText apply(NormalizedText in) { return in; }

}  // namespace tarnwhisk::nfkc
