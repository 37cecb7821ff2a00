// Normalisation throughput: the one-pass pipeline that normalize() runs beside the same
// pipeline run stage by stage (normalize_by_stages), on English-like prose, on the same
// prose with line breaks and apostrophes (characters that are neither letters nor
// separators), and on text with 30% non-ASCII characters, at the levels Basic, Aggressive
// and Thorough; normalize_into() with one result reused across calls, as a caller that
// normalises many texts or pieces does; and short messages of about 100 bytes, one call
// each. Bytes are source bytes.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

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
BENCHMARK_CAPTURE(OnePass, prose_thorough, prose_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(IntoReused, prose_thorough, prose_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(ByStages, prose_thorough, prose_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(OnePass, prose_lines_thorough, prose_lines_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(ByStages, prose_lines_thorough, prose_lines_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(OnePass, mixed30_thorough, mixed_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(IntoReused, mixed30_thorough, mixed_text, NormalizationLevel::Thorough);
BENCHMARK_CAPTURE(ByStages, mixed30_thorough, mixed_text, NormalizationLevel::Thorough);

// Messages of about 100 bytes of prose, normalised one call each into a reused result:
// what the per-call set-up costs. Arg: the level.
void Messages(benchmark::State& state) {
  static const std::vector<std::string> messages = [] {
    const std::string& prose = prose_text();
    std::vector<std::string> out;
    for (std::size_t at = 0; out.size() < 256; at += 100) out.push_back(prose.substr(at, 100));
    return out;
  }();
  const auto level = static_cast<NormalizationLevel>(state.range(0));
  tarnwhisk::NormalizedText out;
  std::size_t k = 0, bytes = 0;
  for (auto _ : state) {
    const std::string& m = messages[k++ % messages.size()];
    tarnwhisk::normalize_into(m, level, out);
    benchmark::DoNotOptimize(out.offsets.data());
    bytes += m.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(Messages)->Arg(1)->Arg(2)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
