// Undoes compatibility forms: full-width, mathematical and outlined letters, ligatures,
// circled and superscript digits, compatibility spaces and the like become their plain
// equivalents. Each character is normalised by itself (its NFKC form), so no two input
// characters are ever composed into one.
#include <algorithm>

#include "normalize/nfkc_table.hpp"
#include "normalize/stages.hpp"
#include "utf8.hpp"

namespace tarnwhisk::nfkc {

Form form(char32_t c) noexcept {
  if (c < 0xA0 || c > 0x10FFFF) return {};  // ASCII and C1 controls are their own form
  const table::Entry* first = table::kEntries + table::kBlockStart[c >> 8];
  const table::Entry* last = table::kEntries + table::kBlockStart[(c >> 8) + 1];
  const table::Entry* e =
      std::lower_bound(first, last, c, [](const table::Entry& x, char32_t v) { return x.cp < v; });
  if (e == last || e->cp != c) return {};
  return {table::kPool + e->pos, e->len, e->bytes};
}

NormalizedText apply(NormalizedText in) {
  NormalizedText out = output_for(in);
  for_each_char(in.text, [&](char32_t c, std::size_t k) {
    const Form f = form(c);
    if (f.len == 0) {
      utf8::encode(c, out.text);
      copy_entry(in, k, out);
      return;
    }
    for (std::size_t j = 0; j < f.len; ++j) {  // several characters share one entry
      utf8::encode(f.chars[j], out.text);
      copy_entry(in, k, out);
    }
  });
  return out;
}

}  // namespace tarnwhisk::nfkc
