// Inputs written to hurt: huge texts, long runs of what the stages remove, merge or
// expand, a text that keeps the automaton one byte short of a hit, enormous word lists,
// a giant word and a large allowlist over a text full of hits. None may take more than a
// few seconds. Each case runs once (they are big); the counter per_byte_vs_prose gives
// its time per input byte divided by that of ordinary prose in the same run (the first
// benchmark), so that a case that grows faster than linearly stands out.
//
//   build/bench/hostile_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk::bench {
namespace {

double g_prose_ns_per_byte = 0;

std::string repeat(std::string_view unit, std::size_t times) {
  std::string s;
  s.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) s.append(unit);
  return s;
}

// head + middle + tail, without the operator+ chain that g++ 12 warns about wrongly.
std::string surround(std::string_view head, const std::string& middle, std::string_view tail) {
  std::string s(head);
  s += middle;
  s += tail;
  return s;
}

Tarnwhisk make_filter(NormalizationLevel level = NormalizationLevel::Basic, MatchMode mode = MatchMode::WordBoundary,
                      std::vector<WordEntry> added = {}, std::vector<std::string> allow = {}, bool bundled = true) {
  TarnwhiskBuilder b;
  b.normalization(level).match_mode(mode).add_words(std::move(added)).allowlist(std::move(allow));
  if (!bundled) b.without_bundled(true);
  auto built = b.build();
  if (!built.ok()) throw std::runtime_error(built.error().to_string());
  return std::move(built).value();
}

long peak_rss_mb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024;
}

// Times `work` once over an input of `bytes` bytes and reports seconds, hits and the
// per-byte ratio to prose.
void run_once(benchmark::State& state, std::size_t bytes, const std::function<std::size_t()>& work) {
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::size_t hits = work();
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(ns / 1e9);
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    if (g_prose_ns_per_byte > 0 && bytes > 0)
      state.counters["per_byte_vs_prose"] = ns / static_cast<double>(bytes) / g_prose_ns_per_byte;
    state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_mb());
  }
}

// Baseline: find over 1 MB of prose with the default filter.
void Prose_1MB_baseline(benchmark::State& state) {
  static const Tarnwhisk f = make_filter();
  static const std::string text = prose(1 << 20);
  double total = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(f.find(text));
    total += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    ++n;
  }
  g_prose_ns_per_byte = total / static_cast<double>(n) / static_cast<double>(text.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(Prose_1MB_baseline)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Level 0 = Basic, 1 = Aggressive for the cases below.
NormalizationLevel level_of(const benchmark::State& state) {
  return state.range(0) == 0 ? NormalizationLevel::Basic : NormalizationLevel::Aggressive;
}

void ZeroWidth_1e6(benchmark::State& state) {
  const Tarnwhisk f = make_filter(level_of(state));
  const std::string text = surround("f", repeat("\u200b", 1000000), "uck");
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(ZeroWidth_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void CombiningMarks_1e6(benchmark::State& state) {
  const Tarnwhisk f = make_filter(level_of(state));
  const std::string text = surround("fu", repeat("\u0301", 1000000), "ck");
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(CombiningMarks_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void Separators_1e6(benchmark::State& state) {
  const Tarnwhisk f = make_filter(level_of(state));
  const std::string text = surround("f", repeat(".", 1000000), "uck");
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(Separators_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Letters and separators alternating: every separator stands between two letters.
void LetterSeparator_1e6(benchmark::State& state) {
  const Tarnwhisk f = make_filter(level_of(state));
  const std::string text = repeat("a.", 1000000);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(LetterSeparator_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void Fdfa_1e6(benchmark::State& state) {
  const Tarnwhisk f = make_filter(level_of(state));
  const std::string text = repeat("\uFDFA", 1000000);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(Fdfa_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void Fdfa_1e6_censor(benchmark::State& state) {
  const Tarnwhisk f = make_filter();
  const std::string text = repeat("\uFDFA", 1000000);
  run_once(state, text.size(), [&] { return f.censor(text).size(); });
}
BENCHMARK(Fdfa_1e6_censor)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// 10^6 repetitions of the longest built-in word less its last byte: the automaton is one
// byte short of a hit all the time. Arg 0 WordBoundary, 1 Substring; arg 1 with a space
// between the repetitions or none.
void LongWordPrefix_1e6(benchmark::State& state) {
  const MatchMode mode = state.range(0) == 0 ? MatchMode::WordBoundary : MatchMode::Substring;
  const Tarnwhisk f = make_filter(NormalizationLevel::Basic, mode);
  std::string longest;
  for (const auto& e : f.matcher().entries())
    if (e.word.size() > longest.size() && e.word.find(' ') == std::string::npos) longest = e.word;
  const std::string prefix = longest.substr(0, longest.size() - 1);
  const std::string text = repeat(state.range(1) ? prefix + " " : prefix, 1000000);
  state.SetLabel(prefix);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(LongWordPrefix_1e6)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond)
    ->Iterations(1)->UseManualTime();

std::vector<WordEntry> dictionary_entries(std::size_t n) {
  std::vector<WordEntry> out;
  const auto& dict = dictionary_words();
  for (std::size_t i = 0; out.size() < n; ++i) {
    // Past the end of the list, new words are made by suffixing a number.
    std::string w = dict[i % dict.size()];
    if (i >= dict.size()) w += std::to_string(i / dict.size());
    out.push_back({std::move(w), Category::Mild, 1, false});
  }
  return out;
}

void AddedWords_1e5_build(benchmark::State& state) {
  const std::vector<WordEntry> words = dictionary_entries(100000);
  std::size_t bytes = 0;
  for (const auto& w : words) bytes += w.word.size();
  run_once(state, bytes, [&] { return make_filter(NormalizationLevel::Basic, MatchMode::WordBoundary, words)
                                   .matcher().entries().size(); });
}
BENCHMARK(AddedWords_1e5_build)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void AddedWords_1e5_find_1MB(benchmark::State& state) {
  const Tarnwhisk f = make_filter(NormalizationLevel::Basic, MatchMode::WordBoundary, dictionary_entries(100000));
  const std::string text = prose(1 << 20);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(AddedWords_1e5_find_1MB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void GiantWord_100KB(benchmark::State& state) {
  std::string giant;
  const auto& dict = dictionary_words();
  for (std::size_t i = 0; giant.size() < 100000; ++i) giant += dict[(i * 7919) % dict.size()];
  giant.resize(100000);
  const std::string text = prose(1 << 20) + " " + giant + " " + giant.substr(0, 99999) + " end";
  run_once(state, text.size(), [&] {
    const Tarnwhisk f = make_filter(NormalizationLevel::Basic, MatchMode::WordBoundary,
                                    {{giant, Category::Strong, 2, false}});
    return f.find(text).size();
  });
}
BENCHMARK(GiantWord_100KB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// 10,000 allowlist terms over 1 MB in which about one word in five is a hit. Arg 0: no
// allowlist (the same text and hits), arg 1: the terms, none covering a hit, arg 2: the
// terms plus terms that cover every hit.
void Allowlist_1e4_terms_1MB(benchmark::State& state) {
  const auto& dict = dictionary_words();
  std::vector<std::string> terms;
  for (std::size_t i = 0; terms.size() < 10000; i += 7) terms.push_back(dict[i % dict.size()] + "zq");
  std::vector<std::string> hot;
  {
    const Tarnwhisk plain = make_filter();
    for (const auto& e : plain.matcher().entries())
      if (e.word.size() >= 4 && e.word.find(' ') == std::string::npos && hot.size() < 200) hot.push_back(e.word);
  }
  if (state.range(0) == 2)
    for (std::size_t i = 0; i < hot.size() && i < 100; ++i) terms.push_back(hot[i]);
  const Tarnwhisk f = make_filter(NormalizationLevel::Basic, MatchMode::WordBoundary, {},
                                  state.range(0) == 0 ? std::vector<std::string>{} : terms);
  const std::string text = prose(1 << 20, hot, 5);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(Allowlist_1e4_terms_1MB)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->UseManualTime();

// 10^6 hits of one word: the hit list, the allowlist test of every hit (arg 1: an
// allowlist of 10,000 terms, one of which touches no hit) and the censor.
void ManyHits_1e6(benchmark::State& state) {
  std::vector<std::string> terms;
  if (state.range(0) == 1) {
    const auto& dict = dictionary_words();
    for (std::size_t i = 0; terms.size() < 10000; i += 7) terms.push_back(dict[i % dict.size()] + "zq");
  }
  const Tarnwhisk f = make_filter(NormalizationLevel::Basic, MatchMode::WordBoundary,
                                  {{"zork", Category::Mild, 1, false}}, terms);
  const std::string text = repeat("zork ", 1000000);
  run_once(state, text.size(), [&] {
    benchmark::DoNotOptimize(f.censor(text));
    return f.find(text).size();
  });
}
BENCHMARK(ManyHits_1e6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Last, so that the peak resident set of the cases before is their own.
void Prose_100MB_find(benchmark::State& state) {
  const Tarnwhisk f = make_filter();
  const std::string chunk = prose(1 << 20);
  const std::string text = repeat(chunk, 100);
  run_once(state, text.size(), [&] { return f.find(text).size(); });
}
BENCHMARK(Prose_100MB_find)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void Prose_100MB_censor(benchmark::State& state) {
  const Tarnwhisk f = make_filter();
  const std::string text = repeat(prose(1 << 20), 100);
  run_once(state, text.size(), [&] { return f.censor(text).size(); });
}
BENCHMARK(Prose_100MB_censor)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
}  // namespace tarnwhisk::bench

BENCHMARK_MAIN();
