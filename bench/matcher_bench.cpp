// Matcher throughput and build cost on a word list's worth of patterns, beside a naive
// baseline (one std::string_view::find pass per pattern) measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "matcher/automaton.hpp"
#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {
namespace {

constexpr std::size_t kPatterns = 750;
constexpr std::size_t kTextBytes = std::size_t{1} << 20;

const std::vector<std::string>& words() {
  static const std::vector<std::string> w = bench::stand_in_patterns(kPatterns);
  return w;
}

std::vector<WordEntry> entries() {
  std::vector<WordEntry> out;
  for (const std::string& w : words()) out.push_back({w, Category::Strong, 2, false});
  return out;
}

// The prose as the filter hands it to the matcher: normalised at level Basic.
const NormalizedText& text() {
  static const NormalizedText t = normalize(bench::prose(kTextBytes, words()), NormalizationLevel::Basic);
  return t;
}

// Scans `t` with `m` once an iteration and counts the bytes; returns the hits of a scan.
std::size_t time_scans(benchmark::State& state, const Matcher& m, const NormalizedText& t, MatchMode mode) {
  std::size_t hits = 0;
  for (auto _ : state) {
    auto found = m.scan(t, mode);
    hits = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.text.size()));
  return hits;
}

void BM_Scan(benchmark::State& state) {
  MatcherOptions options;
  options.prefilter = state.range(0) != 0;
  const auto mode = static_cast<MatchMode>(state.range(1));
  const Matcher m = std::move(Matcher::create(entries(), options)).value();
  const NormalizedText& t = text();
  state.counters["hits"] = static_cast<double>(time_scans(state, m, t, mode));
}
BENCHMARK(BM_Scan)
    ->ArgNames({"prefilter", "substring"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond);

// The built-in English list, as the default filter has it, over the filter benchmark's
// prose normalised at level Basic: the matcher's share of the filter's find().
void BM_ScanEnglish(benchmark::State& state) {
  static const NormalizedText t = [] {
    std::vector<std::string> sprinkle;
    for (const WordEntry& e : bundled_for(Language::En))
      if (sprinkle.size() < 64) sprinkle.push_back(e.word);
    return normalize(bench::prose(kTextBytes, sprinkle), NormalizationLevel::Basic);
  }();
  const Matcher m = std::move(Matcher::create(bundled_for(Language::En))).value();
  const std::size_t hits = time_scans(state, m, t, MatchMode::WordBoundary);
  state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_ScanEnglish)->Unit(benchmark::kMicrosecond);

// The automaton as one chain of loads (fed 255 bytes at a time, too few to cut into
// lanes), without the lanes that scan() runs side by side: what the lanes gain.
void BM_OneChain(benchmark::State& state) {
  std::vector<std::string> patterns;
  for (const std::string& w : words()) patterns.push_back(normalize(w, NormalizationLevel::Basic).text);
  std::string error;
  const auto a = Automaton::build(patterns, {0xFFFFFFFFu, 1u << 20, 1u << 24}, false, error);
  const std::string& t = text().text;
  const auto* bytes = reinterpret_cast<const unsigned char*>(t.data());
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    auto count = [&](const Occurrence&, int) { ++found; };
    Automaton::Chain chain = a->start_chain();
    for (std::size_t end = 0; end < t.size();) {
      end = std::min(end + 255, t.size());
      a->advance(bytes, end, chain, count);
    }
    a->finish(bytes, t.size(), chain, count);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
  state.counters["occurrences"] = static_cast<double>(found);
}
BENCHMARK(BM_OneChain)->Unit(benchmark::kMicrosecond);

// Where the prefilter can pay: the stand-in words that begin with "k", "q" or "z", so
// three start bytes cover them all.
void BM_ScanFewStartBytes(benchmark::State& state) {
  std::vector<WordEntry> few;
  for (const std::string& w : words())
    if (w[0] == 'k' || w[0] == 'q' || w[0] == 'z') few.push_back({w, Category::Strong, 2, false});
  MatcherOptions options;
  options.prefilter = state.range(0) != 0;
  const Matcher m = std::move(Matcher::create(few, options)).value();
  const NormalizedText& t = text();
  const std::size_t hits = time_scans(state, m, t, MatchMode::WordBoundary);
  state.counters["patterns"] = static_cast<double>(few.size());
  state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_ScanFewStartBytes)->ArgName("prefilter")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Baseline: every pattern looked for on its own with std::string_view::find.
void BM_NaiveFind(benchmark::State& state) {
  std::vector<std::string> patterns;
  for (const std::string& w : words()) patterns.push_back(normalize(w, NormalizationLevel::Basic).text);
  const std::string_view t = text().text;
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const std::string& p : patterns)
      for (std::size_t at = t.find(p); at != std::string_view::npos; at = t.find(p, at + 1)) ++found;
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
  state.counters["occurrences"] = static_cast<double>(found);
}
BENCHMARK(BM_NaiveFind)->Unit(benchmark::kMicrosecond);

// The automaton alone: patterns already normalised.
void BM_BuildAutomaton(benchmark::State& state) {
  std::vector<std::string> patterns;
  for (const std::string& w : words()) patterns.push_back(normalize(w, NormalizationLevel::Basic).text);
  const Automaton::Limits limits{0xFFFFFFFFu, 1u << 20, 1u << 24};
  std::size_t bytes = 0, states = 0, classes = 0;
  bool prefilter = false;
  for (auto _ : state) {
    std::string error;
    auto a = Automaton::build(patterns, limits, true, error);
    bytes = a->memory_bytes();
    states = a->state_count();
    classes = a->class_count();
    prefilter = a->prefilter_active();
    benchmark::DoNotOptimize(a.get());
  }
  state.counters["automaton_bytes"] = static_cast<double>(bytes);
  state.counters["states"] = static_cast<double>(states);
  state.counters["classes"] = static_cast<double>(classes);
  state.counters["prefilter"] = prefilter ? 1 : 0;
}
BENCHMARK(BM_BuildAutomaton)->Unit(benchmark::kMicrosecond);

// The whole matcher construction, normalising the 750 words included.
void BM_CreateMatcher(benchmark::State& state) {
  const std::vector<WordEntry> e = entries();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto m = Matcher::create(e);
    bytes = m.value().automaton_bytes();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["automaton_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CreateMatcher)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwhisk

BENCHMARK_MAIN();
