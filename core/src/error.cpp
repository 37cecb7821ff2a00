#include "tarnwhisk/error.hpp"

#include <ostream>

namespace tarnwhisk {

Error Error::no_words() { return Error(Kind::NoWords, {}); }

Error Error::matcher_build(std::string automaton_message) {
  return Error(Kind::MatcherBuild, std::move(automaton_message));
}

std::string Error::to_string() const {
  switch (kind_) {
    case Kind::NoWords:
      return "no words configured; enable a language feature or call add_words";
    case Kind::MatcherBuild:
      return "failed to build matcher automaton: " + detail_;
  }
  return {};
}

std::ostream& operator<<(std::ostream& os, const Error& error) { return os << error.to_string(); }

}  // namespace tarnwhisk
