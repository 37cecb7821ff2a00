// A small command-line front end to the core library: censors standard input with the
// default filter, or lists the hits. Shows the builder and the stream in use without the
// Python binding: input is read in chunks and written out as soon as it is final, so a
// file of any size is filtered in a few KiB of memory and a pipe is filtered as it flows.
//
//   tarnwhisk_cli [--hits] [--words w1,w2,...] [--level none|basic|aggressive]
//                 [--style length_preserving|first_last|full_mask|grawlix]
#include <tarnwhisk/tarnwhisk.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tarnwhisk;

int usage(std::string_view problem) {
  if (!problem.empty()) std::cerr << "tarnwhisk_cli: " << problem << "\n";
  std::cerr << "usage: tarnwhisk_cli [--hits] [--words w1,w2,...] [--level none|basic|aggressive]\n"
            << "                     [--style length_preserving|first_last|full_mask|grawlix]\n"
            << "Reads text from standard input and writes it censored, or with --hits one line\n"
            << "per hit: category, severity, byte span, normalised span and the matched text.\n"
            << "--words replaces the built-in lists with the given words.\n";
  return 2;
}

std::optional<NormalizationLevel> parse_level(std::string_view s) {
  if (s == "none") return NormalizationLevel::None;
  if (s == "basic") return NormalizationLevel::Basic;
  if (s == "aggressive") return NormalizationLevel::Aggressive;
  return std::nullopt;
}

std::optional<CensorStyle> parse_style(std::string_view s) {
  if (s == "length_preserving") return CensorStyle::LengthPreserving;
  if (s == "first_last") return CensorStyle::FirstLast;
  if (s == "full_mask") return CensorStyle::FullMask;
  if (s == "grawlix") return CensorStyle::Grawlix;
  return std::nullopt;
}

std::vector<WordEntry> parse_words(std::string_view list) {
  std::vector<WordEntry> words;
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view w = list.substr(0, comma);
    if (!w.empty()) words.push_back({std::string(w), Category::Strong, 2, false});
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  TarnwhiskBuilder builder;
  bool list_hits = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    if (arg == "--hits") {
      list_hits = true;
    } else if (arg == "--words") {
      const auto v = value();
      if (!v) return usage("--words needs a comma-separated list");
      builder.without_bundled(true).add_words(parse_words(*v));
    } else if (arg == "--level") {
      const auto v = value();
      const auto level = v ? parse_level(*v) : std::nullopt;
      if (!level) return usage("--level takes none, basic or aggressive");
      builder.normalization(*level);
    } else if (arg == "--style") {
      const auto v = value();
      const auto style = v ? parse_style(*v) : std::nullopt;
      if (!style) return usage("--style takes length_preserving, first_last, full_mask or grawlix");
      builder.censor_style(*style);
    } else if (arg == "--help" || arg == "-h") {
      usage("");
      return 0;
    } else {
      return usage("unknown argument " + std::string(arg));
    }
  }

  Result<Tarnwhisk> built = builder.build();
  if (!built) {
    std::cerr << "tarnwhisk_cli: " << built.error() << '\n';
    return 1;
  }
  const Tarnwhisk& filter = built.value();

  // With --hits the stream masks nothing; this program keeps the source from where the
  // next hit may start, to print each hit's own bytes.
  TextStream stream = filter.stream({.censor = !list_hits});
  TextStream::Output out;
  std::string source;
  std::size_t source_base = 0;
  auto write_out = [&] {
    if (!list_hits) {
      std::fwrite(out.censored.data(), 1, out.censored.size(), stdout);
      std::fflush(stdout);
      out.censored.clear();
      out.hits.clear();
      return;
    }
    for (const Match& hit : out.hits) {
      std::cout << category_name(hit.category) << '\t' << static_cast<int>(hit.severity) << "\tbytes ["
                << hit.start << ", " << hit.end << ")\tnormalized [" << hit.normalized_start << ", "
                << hit.normalized_end << ")\t"
                << std::string_view(source).substr(hit.start - source_base, hit.end - hit.start) << '\n';
    }
    std::cout.flush();
    out.hits.clear();
    source.erase(0, stream.settled() - source_base);
    source_base = stream.settled();
  };

  std::vector<char> buffer(64 * 1024);
  for (;;) {
    // read() returns what has arrived, so that a pipe is filtered as it flows.
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::cerr << "tarnwhisk_cli: reading standard input: " << std::strerror(errno) << '\n';
      return 1;
    }
    if (n == 0) break;
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
    if (list_hits) source.append(chunk);
    stream.feed(chunk, out);
    write_out();
  }
  stream.finish(out);
  write_out();
  return 0;
}
