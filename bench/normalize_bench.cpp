// Normalisation throughput: the one-pass pipeline that normalize() runs beside the same
// pipeline run stage by stage (normalize_by_stages), on English-like prose, on the same
// prose with line breaks and apostrophes (characters that are neither letters nor
// separators), and on text with 30% non-ASCII characters, at both non-trivial levels;
// and normalize_into() with
// one result reused across calls, as a caller that normalises many texts or pieces does.
// Bytes are source bytes.
#include <benchmark/benchmark.h>

#include "corpus.hpp"
#include "normalize/stages.hpp"
#include "tarnwhisk/normalize.hpp"

namespace {

using tarnwhisk::NormalizationLevel;
constexpr std::size_t kBytes = 64 * 1024;

const std::string& prose_text() {
  static const std::string text = tarnwhisk::bench::prose(kBytes);
  return text;
}
const std::string& prose_lines_text() {
  static const std::string text = [] {
    const std::string prose = tarnwhisk::bench::prose(kBytes);
    std::string out;
    std::size_t spaces = 0;
    for (char c : prose) {
      if (c == ' ' && ++spaces % 13 == 0) out += "'s";
      out += (c == ' ' && spaces % 9 == 0) ? '\n' : c;
    }
    return out;
  }();
  return text;
}
const std::string& mixed_text() {
  static const std::string text = tarnwhisk::bench::mixed_text(kBytes, 0.3);
  return text;
}

template <typename Normalize>
void run(benchmark::State& state, const std::string& text, NormalizationLevel level, Normalize f) {
  for (auto _ : state) benchmark::DoNotOptimize(f(text, level));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void OnePass(benchmark::State& state, const std::string& (*text)(), NormalizationLevel level) {
  run(state, text(), level, [](std::string_view t, NormalizationLevel l) { return tarnwhisk::normalize(t, l); });
}
void ByStages(benchmark::State& state, const std::string& (*text)(), NormalizationLevel level) {
  run(state, text(), level,
      [](std::string_view t, NormalizationLevel l) { return tarnwhisk::normalize_by_stages(t, l); });
}
void IntoReused(benchmark::State& state, const std::string& (*text)(), NormalizationLevel level) {
  tarnwhisk::NormalizedText out;
  run(state, text(), level, [&out](std::string_view t, NormalizationLevel l) {
    tarnwhisk::normalize_into(t, l, out);
    return out.offsets.data();
  });
}

BENCHMARK_CAPTURE(OnePass, prose_basic, prose_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(IntoReused, prose_basic, prose_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(ByStages, prose_basic, prose_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(OnePass, prose_aggressive, prose_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(IntoReused, prose_aggressive, prose_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(ByStages, prose_aggressive, prose_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(OnePass, prose_lines_basic, prose_lines_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(ByStages, prose_lines_basic, prose_lines_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(OnePass, prose_lines_aggressive, prose_lines_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(ByStages, prose_lines_aggressive, prose_lines_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(OnePass, mixed30_basic, mixed_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(IntoReused, mixed30_basic, mixed_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(ByStages, mixed30_basic, mixed_text, NormalizationLevel::Basic);
BENCHMARK_CAPTURE(OnePass, mixed30_aggressive, mixed_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(IntoReused, mixed30_aggressive, mixed_text, NormalizationLevel::Aggressive);
BENCHMARK_CAPTURE(ByStages, mixed30_aggressive, mixed_text, NormalizationLevel::Aggressive);

}  // namespace

BENCHMARK_MAIN();
