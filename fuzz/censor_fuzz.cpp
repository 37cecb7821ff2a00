// The censor is public and takes any hit list, so it must stay inside the text and write
// well-formed UTF-8 whatever the hits say: beyond the text, inverted, off character
// boundaries, out of order. Hits that keep the preconditions must be masked exactly as
// the masking rules say.
//
// Input: byte 0 picks style and mask as in fuzz_support.hpp, byte 1 is the number of
// hits k, then k pairs of bytes (start, end), then the text.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"

using namespace tarnwhisk;
using namespace tarnwhisk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Case opts = parse(data, 1);
  const std::size_t k = std::min<std::size_t>(data[1], (size - 2) / 2);
  std::vector<Match> hits;
  for (std::size_t i = 0; i < k; ++i) {
    Match m;
    m.start = data[2 + 2 * i];
    m.end = data[3 + 2 * i];
    hits.push_back(m);
  }
  const std::string_view text(reinterpret_cast<const char*>(data) + 2 + 2 * k, size - 2 - 2 * k);
  // Ranges a long text cannot reach with one byte: stretch the offsets over it.
  if (text.size() > 255)
    for (auto& m : hits) m.start = m.start * text.size() / 255, m.end = m.end * text.size() / 255;

  const std::string out = censor::apply(text, hits, opts.options.style, opts.options.mask);
  if (valid_utf8(text)) TW_CHECK(valid_utf8(out), "malformed UTF-8 out of valid text");

  const std::vector<bool> bounds = boundaries(text);
  bool sound = true;
  std::size_t prev = 0;
  for (const Match& m : hits) {
    sound = sound && m.start <= m.end && m.end <= text.size() && bounds[m.start] && bounds[m.end] && m.start >= prev;
    prev = m.start;
  }
  if (sound) {
    const std::string ref = reference_censor(text, hits, opts.options.style, opts.options.mask);
    TW_CHECK(out == ref, "censor gives %zu bytes, the masking rules %zu", out.size(), ref.size());
  }
  return 0;
}
