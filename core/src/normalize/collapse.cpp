// Undoes stretched words: every run of three or more equal characters becomes one
// ("baaaad" reads "bad"), while doubled letters ("good") stay as they are.
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::collapse {

NormalizedText apply(NormalizedText in) {
  if (in.text.empty()) return in;
  NormalizedText out = output_for(in);
  const std::string_view t = in.text;
  std::size_t i = 0;  // byte position of the current character
  std::size_t k = 0;  // its index
  while (i < t.size()) {
    const std::size_t len = utf8::char_len(t, i);
    const char32_t c = utf8::decode(t, i, len);
    // The run: characters k .. k + run - 1, ending before byte j.
    std::size_t j = i + len;
    std::size_t run = 1;
    while (j < t.size()) {
      const std::size_t l = utf8::char_len(t, j);
      if (utf8::decode(t, j, l) != c) break;
      j += l;
      ++run;
    }
    if (run >= kMinRun) {
      utf8::encode(c, out.text);
      out.offsets.push_back({in.offsets[k].start, in.offsets[k + run - 1].end});
      if (!in.flags.empty()) out.flags.push_back(merged_flags(in.flags[k], in.flags[k + run - 1]));
    } else {
      for (std::size_t r = 0; r < run; ++r) {
        utf8::encode(c, out.text);
        copy_entry(in, k + r, out);
      }
    }
    i = j;
    k += run;
  }
  return out;
}

}  // namespace tarnwhisk::collapse
