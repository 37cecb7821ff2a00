// The constructor's options dictionary: each known key is read in a fixed order,
// checked, converted and fed to the builder, so that the first bad value decides the
// error a caller sees. Nothing of the dictionary is kept: every value is copied out.
#include <algorithm>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "binding.hpp"
#include "utf8.hpp"

namespace tarnwhisk::py {

namespace {

// Full Unicode lower-casing of UTF-8 text, as the interpreter's str.lower() does it
// (on an exact str, so that no subclass override runs).
bool unicode_lower(const std::string& text, std::string& out) {
  Ref str(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!str) return false;
  Ref lowered(PyObject_CallMethod(str.get(), "lower", nullptr));
  if (!lowered) return false;
  return to_string(lowered.get(), out);
}

void raise_value_error(std::string_view prefix, std::string_view text) {
  std::string message(prefix);
  message += text;
  Ref str(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (str) PyErr_SetObject(PyExc_ValueError, str.get());
}

template <class T>
struct Spelling {
  std::string_view text;
  T value;
};

// Looks `folded` up in `table`; on failure raises ValueError `prefix` + folded.
template <class T, std::size_t N>
std::optional<T> lookup(const Spelling<T> (&table)[N], std::string_view folded,
                        std::string_view prefix) {
  for (const auto& row : table) {
    if (row.text == folded) return row.value;
  }
  raise_value_error(prefix, folded);
  return std::nullopt;
}

// The first scalar value of valid UTF-8 `text` (which the interpreter's encoder
// guarantees) and the number of bytes it takes.
std::pair<char32_t, std::size_t> first_scalar(std::string_view text) {
  const std::size_t length = utf8::char_len(text, 0);
  return {utf8::decode(text, 0, length), length};
}

std::string without(std::string text, std::string_view chars) {
  std::erase_if(text, [&](char c) { return chars.find(c) != std::string_view::npos; });
  return text;
}

// The four parsers of option strings. Each lower-cases with full Unicode rules first;
// the match mode also reads "-" as "_", the censor style ignores "-" and "_" altogether.
// None trims white space. A nullopt result means a Python exception is set.

std::optional<NormalizationLevel> parse_normalization(const std::string& text) {
  static constexpr Spelling<NormalizationLevel> kTable[] = {
      {"none", NormalizationLevel::None},
      {"basic", NormalizationLevel::Basic},
      {"aggressive", NormalizationLevel::Aggressive},
      {"thorough", NormalizationLevel::Thorough}};
  std::string folded;
  if (!unicode_lower(text, folded)) return std::nullopt;
  return lookup(kTable, folded, "unknown normalization level: ");
}

std::optional<MatchMode> parse_match_mode(const std::string& text) {
  static constexpr Spelling<MatchMode> kTable[] = {{"word_boundary", MatchMode::WordBoundary},
                                                      {"wordboundary", MatchMode::WordBoundary},
                                                      {"substring", MatchMode::Substring}};
  std::string folded;
  if (!unicode_lower(text, folded)) return std::nullopt;
  std::replace(folded.begin(), folded.end(), '-', '_');
  return lookup(kTable, folded, "unknown match mode: ");
}

std::optional<CensorStyle> parse_censor_style(const std::string& text) {
  static constexpr Spelling<CensorStyle> kTable[] = {
      {"lengthpreserving", CensorStyle::LengthPreserving},
      {"firstlast", CensorStyle::FirstLast},
      {"fullmask", CensorStyle::FullMask},
      {"grawlix", CensorStyle::Grawlix}};
  std::string folded;
  if (!unicode_lower(text, folded)) return std::nullopt;
  return lookup(kTable, without(std::move(folded), "-_"), "unknown censor style: ");
}

std::optional<Category> parse_category(const std::string& text) {
  static constexpr Spelling<Category> kTable[] = {{"mild", Category::Mild},
                                                     {"strong", Category::Strong},
                                                     {"sexual", Category::Sexual},
                                                     {"slur", Category::Slur},
                                                     {"slang", Category::Slang}};
  std::string folded;
  if (!unicode_lower(text, folded)) return std::nullopt;
  return lookup(kTable, folded, "unknown category: ");
}

// The value stored under `key` in `dict`, as a new reference, looked up without any
// subclass override; an empty Ref with no exception set when the key is absent. A
// strong reference is taken because converting the value may run Python code that
// changes the dictionary.
Ref get_item(PyObject* dict, const char* key) {
  Ref name(PyUnicode_FromString(key));
  if (!name) return Ref();
  PyObject* value = PyDict_GetItemWithError(dict, name.get());
  return value ? Ref::borrow(value) : Ref();
}

// A string option parsed by `parse`, e.g. "normalization"; absent leaves `out` unset.
template <class T>
bool read_parsed(PyObject* options, const char* key, std::optional<T> (*parse)(const std::string&),
                 std::optional<T>& out) {
  Ref value = get_item(options, key);
  if (!value) return !PyErr_Occurred();
  std::string text;
  if (!to_string(value.get(), text)) return false;
  out = parse(text);
  return out.has_value();
}

bool read_languages(PyObject* options, TarnwhiskBuilder& builder) {
  Ref value = get_item(options, "languages");
  if (!value) return !PyErr_Occurred();
  // Every element must be a string before any code is judged.
  std::vector<std::string> codes;
  if (!to_string_list(value.get(), codes)) return false;
  for (const std::string& code : codes) {
    const auto known = std::find(kLanguageCodes.begin(), kLanguageCodes.end(), code);
    if (known == kLanguageCodes.end()) {
      std::string message = "unknown language code: " + code + " (expected one of: ";
      for (std::size_t i = 0; i < kLanguageCodes.size(); ++i) {
        if (i > 0) message += ", ";
        message += kLanguageCodes[i];
      }
      message += ')';
      raise_value_error(message, "");
      return false;
    }
    builder.language(static_cast<Language>(known - kLanguageCodes.begin()));
  }
  return true;
}

bool read_mask_char(PyObject* options, TarnwhiskBuilder& builder) {
  Ref value = get_item(options, "mask_char");
  if (!value) return !PyErr_Occurred();
  std::string text;
  if (!to_string(value.get(), text)) return false;
  if (text.empty()) {
    PyErr_SetString(PyExc_ValueError, "mask_char must be a non-empty string");
    return false;
  }
  // Scalar values, not bytes: "é" or a character beyond the BMP is one character.
  const auto [mask, length] = first_scalar(text);
  if (length != text.size()) {
    PyErr_SetString(PyExc_ValueError, "mask_char must be a single character");
    return false;
  }
  builder.mask_char(mask);
  return true;
}

// The value of `key` in one add_words entry, or ValueError for a missing key.
Ref entry_field(PyObject* entry, const char* key) {
  Ref value = get_item(entry, key);
  if (!value && !PyErr_Occurred()) {
    PyErr_Format(PyExc_ValueError, "add_words entry missing '%s'", key);
  }
  return value;
}

bool read_word_entry(PyObject* entry, WordEntry& out) {
  std::string category;
  Ref word = entry_field(entry, "word");
  if (!word || !to_string(word.get(), out.word)) return false;
  Ref cat = entry_field(entry, "category");
  if (!cat || !to_string(cat.get(), category)) return false;
  Ref severity = entry_field(entry, "severity");
  if (!severity || !to_u8(severity.get(), out.severity)) return false;
  Ref strict = entry_field(entry, "strict");
  if (!strict || !to_bool(strict.get(), out.strict)) return false;
  // Judged last, so that a missing or ill-typed later key is reported first.
  const std::optional<Category> parsed = parse_category(category);
  if (!parsed) return false;
  out.category = *parsed;
  return true;
}

bool read_add_words(PyObject* options, TarnwhiskBuilder& builder) {
  Ref value = get_item(options, "add_words");
  if (!value) return !PyErr_Occurred();
  // The whole list must consist of dictionaries and strings before any entry is read.
  std::vector<Ref> entries;
  const bool ok = for_each_in_sequence(
      value.get(),
      [](PyObject* item, void* ctx) {
        if (!is_dict(item) && !is_str(item)) {
          raise_cannot_convert(item, "PyDict");
          return false;
        }
        static_cast<std::vector<Ref>*>(ctx)->push_back(Ref::borrow(item));
        return true;
      },
      &entries);
  if (!ok) return false;
  std::vector<WordEntry> words(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A plain string is the word alone, with the other fields of a default WordEntry
    // (strong, severity 2, not strict), so that a word file's lines can be passed as
    // they are.
    const bool ok_entry = is_str(entries[i].get()) ? to_string(entries[i].get(), words[i].word)
                                                   : read_word_entry(entries[i].get(), words[i]);
    if (!ok_entry) return false;
  }
  builder.add_words(std::move(words));
  return true;
}

// "remove_words" and "allowlist": a list of strings handed over unchanged.
bool read_string_list(PyObject* options, const char* key, std::vector<std::string>& out,
                      bool& present) {
  Ref value = get_item(options, key);
  present = static_cast<bool>(value);
  if (!value) return !PyErr_Occurred();
  return to_string_list(value.get(), out);
}

}  // namespace

bool read_options(PyObject* options, TarnwhiskBuilder& builder) {
  Ref without_bundled = get_item(options, "without_bundled");
  if (PyErr_Occurred()) return false;
  bool skip_languages = false;
  if (without_bundled) {
    bool value = false;
    if (!to_bool(without_bundled.get(), value)) return false;
    if (value) {
      builder.without_bundled(true);
      skip_languages = true;  // the languages are not even looked at
    }
  }
  if (!skip_languages && !read_languages(options, builder)) return false;

  std::optional<NormalizationLevel> level;
  if (!read_parsed(options, "normalization", parse_normalization, level)) return false;
  if (level) builder.normalization(*level);
  std::optional<MatchMode> mode;
  if (!read_parsed(options, "match_mode", parse_match_mode, mode)) return false;
  if (mode) builder.match_mode(*mode);
  std::optional<CensorStyle> style;
  if (!read_parsed(options, "censor_style", parse_censor_style, style)) return false;
  if (style) builder.censor_style(*style);
  if (!read_mask_char(options, builder)) return false;
  if (!read_add_words(options, builder)) return false;

  std::vector<std::string> removed;
  bool present = false;
  if (!read_string_list(options, "remove_words", removed, present)) return false;
  if (present) builder.remove_words(std::move(removed));
  std::vector<std::string> allowed;
  if (!read_string_list(options, "allowlist", allowed, present)) return false;
  if (present) builder.allowlist(std::move(allowed));
  return true;
}

}  // namespace tarnwhisk::py
