// The one error type of the core library, and the result type that carries it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <variant>

namespace tarnwhisk {

// Why building a filter failed. Only building can fail; operations on text never do.
class Error {
 public:
  enum class Kind : std::uint8_t {
    NoWords,       // no word entry was left after merging, removing and deduplicating
    MatcherBuild,  // the automaton refused the pattern set; detail() says why
  };

  // The error for an empty final word list.
  static Error no_words();
  // The error for a refused pattern set; `automaton_message` is the automaton's own
  // description of the limit that was exceeded.
  static Error matcher_build(std::string automaton_message);

  Kind kind() const noexcept { return kind_; }
  // The automaton's message for MatcherBuild; empty for NoWords.
  const std::string& detail() const noexcept { return detail_; }
  // The text form shown to users:
  //   NoWords:      "no words configured; enable a language feature or call add_words"
  //   MatcherBuild: "failed to build matcher automaton: " + detail()
  std::string to_string() const;

  bool operator==(const Error&) const = default;

 private:
  Error(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
  Kind kind_;
  std::string detail_;
};

// Writes the text form of `error`.
std::ostream& operator<<(std::ostream& os, const Error& error);

// Either a value or an Error. Construct from either; check ok() before value().
template <class T>
class Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  // The value; only valid when ok().
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  // The error; only valid when !ok().
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace tarnwhisk
