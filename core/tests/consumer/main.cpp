// Builds a filter through the installed headers and library and checks one result.
#include <tarnwhisk/tarnwhisk.hpp>

#include <iostream>

int main() {
  using namespace tarnwhisk;
  TarnwhiskBuilder builder;
  builder.without_bundled(true).add_words({{"darn", Category::Mild, 1, false}});
  Result<Tarnwhisk> filter = builder.build();
  if (!filter) {
    std::cerr << filter.error() << '\n';
    return 1;
  }
  const std::string out = filter.value().censor("oh darn it");
  std::cout << out << '\n';
  return out == "oh **** it" ? 0 : 1;
}
