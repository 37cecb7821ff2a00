// Prints what the NFKC stage makes of every Unicode scalar value, one line each: the
// code point and then the code points of its output, in hex. tools/check_nfkc.py
// compares this with the NFKC form that the Python character database gives.
#include <cstdio>
#include <string>

#include "normalize/stages.hpp"
#include "utf8.hpp"

int main() {
  using namespace tarnwhisk;
  std::string line;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    NormalizedText in;
    utf8::encode(cp, in.text);
    in.offsets.push_back({0, in.text.size()});
    const NormalizedText out = nfkc::apply(std::move(in));
    line.clear();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(cp));
    line += buf;
    const std::string_view t = out.text;
    for (std::size_t i = 0; i < t.size();) {
      const std::size_t len = utf8::char_len(t, i);
      std::snprintf(buf, sizeof buf, " %X", static_cast<unsigned>(utf8::decode(t, i, len)));
      line += buf;
      i += len;
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
  }
  return 0;
}
