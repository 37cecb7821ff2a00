// Undoes capitals: ASCII A to Z become a to z. Nothing else changes case; capitals
// outside ASCII that matter arrive here already as ASCII (from NFKC) or are mapped by
// the homoglyph stage.
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::casefold {

NormalizedText apply(NormalizedText in) {
  // Every character keeps its byte length, and ASCII bytes never belong to a multi-byte
  // character, so the text can be changed in place and the offsets stay as they are.
  for (char& b : in.text) b = ascii_lower(b);
  return in;
}

}  // namespace tarnwhisk::casefold
