// Turning the built-in tables into word entries.
#include "tarnwhisk/data.hpp"

#include <unordered_map>

#include "data/tables.hpp"
#include "utf8.hpp"

namespace tarnwhisk {

std::span<const WordRow> base_table(Language language) noexcept {
  switch (language) {
    case Language::En: return tables::en_base();
    case Language::Es: return tables::es_base();
    case Language::Hi: return tables::hi_base();
    case Language::Fr: return tables::fr_base();
    case Language::De: return tables::de_base();
  }
  return {};  // a value beyond the enumerators: no list
}

std::span<const WordRow> override_table(Language language) noexcept {
  return language == Language::En ? tables::en_overrides() : std::span<const WordRow>{};
}

std::vector<WordEntry> merge(std::span<const WordRow> base, std::span<const WordRow> overrides) {
  // Keyed by the lower-cased text; a later row replaces an earlier one wholly. The
  // result keeps first-seen order, which is one of the orders the contract allows.
  std::unordered_map<std::string, std::size_t> slot;
  std::vector<WordEntry> out;
  out.reserve(base.size() + overrides.size());
  slot.reserve(base.size() + overrides.size());
  auto put = [&](const WordRow& row) {
    WordEntry entry{std::string(row.text), row.category, row.severity, row.strict};
    auto [it, inserted] = slot.try_emplace(ascii_lower(row.text), out.size());
    if (inserted) {
      out.push_back(std::move(entry));
    } else {
      out[it->second] = std::move(entry);
    }
  };
  for (const WordRow& row : base) put(row);
  for (const WordRow& row : overrides) put(row);
  return out;
}

std::vector<WordEntry> bundled_for(Language language) {
  return merge(base_table(language), override_table(language));
}

}  // namespace tarnwhisk
