// Undoes leetspeak: digits and symbols written for letters become those letters, so
// "b4d" reads "bad" and "$h0p" reads "shop". Applies everywhere, numbers included.
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::leetspeak {

NormalizedText apply(NormalizedText in) {
  // ASCII for ASCII, so the text changes in place and the offsets stay as they are. The
  // characters made of symbols are flagged, for the whole-word test.
  if (in.flags.empty()) in.flags.assign(in.offsets.size(), 0);
  for (std::size_t i = 0, k = 0; i < in.text.size(); ++k) {
    const auto b = static_cast<unsigned char>(in.text[i]);
    if (b < 0x80) {
      if (ascii::is_symbol(b)) in.flags[k] |= kSymbolFirst | kSymbolLast;
      in.text[i] = static_cast<char>(fold(b));
    }
    i += utf8::char_len(in.text, i);
  }
  return in;
}

}  // namespace tarnwhisk::leetspeak
