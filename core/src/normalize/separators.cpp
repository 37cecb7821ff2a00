// Undoes letters split apart: a run of spaces and punctuation standing between two ASCII
// letters is deleted, so "b.a.d", "b a d" and "b_a_d" read "bad" (and, as a price, "hello
// world" reads "helloworld").
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::separators {

NormalizedText apply(NormalizedText in) {
  if (in.text.empty()) return in;
  NormalizedText out = output_for(in);
  const std::string_view t = in.text;
  bool last_is_letter = false;  // the last character appended to the output
  std::size_t i = 0, k = 0;
  while (i < t.size()) {
    const std::size_t len = utf8::char_len(t, i);
    const char32_t c = utf8::decode(t, i, len);
    if (ascii::is_separator(c) && last_is_letter) {
      // Find the end of the run; drop it whole if a letter follows.
      std::size_t j = i + len, kj = k + 1;
      while (j < t.size()) {
        const std::size_t l = utf8::char_len(t, j);
        if (!ascii::is_separator(utf8::decode(t, j, l))) break;
        j += l;
        ++kj;
      }
      if (j < t.size() && ascii::is_letter(utf8::decode(t, j, utf8::char_len(t, j)))) {
        i = j;
        k = kj;
        continue;
      }
    }
    utf8::encode(c, out.text);
    copy_entry(in, k, out);
    last_is_letter = ascii::is_letter(c);
    i += len;
    ++k;
  }
  return out;
}

}  // namespace tarnwhisk::separators
