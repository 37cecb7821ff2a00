// Undoes invisible characters slipped between letters: zero-width characters,
// bidirectional marks, embeddings, overrides and isolates, the byte order mark and the
// no-break spaces are deleted, so "a<ZWSP>b" reads "ab".
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::strip_bidi {

bool removes(char32_t c) noexcept {
  switch (c) {
    case 0x00A0:                                                   // no-break space
    case 0x2007:                                                   // figure space
    case 0x200B: case 0x200C: case 0x200D:                         // zero width space, (non-)joiner
    case 0x200E: case 0x200F:                                      // LTR and RTL marks
    case 0x202A: case 0x202B: case 0x202C: case 0x202D: case 0x202E:  // embeddings, overrides
    case 0x202F:                                                   // narrow no-break space
    case 0x2066: case 0x2067: case 0x2068: case 0x2069:            // isolates
    case 0xFEFF:                                                   // byte order mark
      return true;
    default:
      return false;
  }
}

NormalizedText apply(NormalizedText in) {
  NormalizedText out = output_for(in);
  for_each_char(in.text, [&](char32_t c, std::size_t k) {
    if (removes(c)) return;
    // Re-encoding writes U+FFFD for an ill-formed byte, so that dropping a character can
    // never join stray bytes on either side into a new character.
    utf8::encode(c, out.text);
    copy_entry(in, k, out);
  });
  return out;
}

}  // namespace tarnwhisk::strip_bidi
