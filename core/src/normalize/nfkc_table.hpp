// The generated NFKC data (nfkc_table.cpp, written by tools/gen_nfkc.py): for every
// character whose NFKC form is not the character itself, that form.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwhisk::nfkc::table {

struct Entry {
  char32_t cp;          // the character
  std::uint16_t pos;    // its form is kPool[pos, pos + len)
  std::uint8_t len;     // characters in the form, 1 to 18
  std::uint8_t bytes;   // UTF-8 bytes of the form
};

extern const char kUnicodeVersion[];  // version of the character data, e.g. "16.0.0"
extern const std::size_t kEntryCount;
extern const Entry kEntries[];        // sorted by cp
extern const char32_t kPool[];
// kBlockStart[b] is the index of the first entry with cp >= b * 256, for b in
// [0, 0x1100]; the entries of block b are kEntries[kBlockStart[b], kBlockStart[b + 1]).
extern const std::uint16_t kBlockStart[];

}  // namespace tarnwhisk::nfkc::table
