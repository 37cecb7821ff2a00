// The filter end to end (normalise, scan, allowlist), the cost and heap size of building
// filters, and the indexed allowlist beside the literal term-by-term search. Baselines in
// the same run: an ASCII lower-casing copy of the same text (one plain pass over the
// bytes) for find, and the literal allowlist for the indexed one.
//
// Heap sizes come from a counting global operator new/delete in this program: the live
// bytes after building a filter minus those before.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "counting_heap.hpp"
#include "reference/literal_allowlist.hpp"
#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk {
namespace {

constexpr std::size_t kTextBytes = std::size_t{1} << 20;

// ~1 MiB of prose with built-in English words sprinkled in (about one word in 200).
const std::string& prose_with_words() {
  static const std::string text = [] {
    std::vector<std::string> sprinkle;
    for (const WordEntry& e : bundled_for(Language::En))
      if (sprinkle.size() < 64) sprinkle.push_back(e.word);
    return bench::prose(kTextBytes, sprinkle);
  }();
  return text;
}

Tarnwhisk build_or_die(TarnwhiskBuilder builder) {
  Result<Tarnwhisk> r = builder.build();
  if (!r) {
    std::fprintf(stderr, "build failed\n");
    std::abort();
  }
  return std::move(r).value();
}

void BM_Baseline_LowerCopy(benchmark::State& state) {
  const std::string& text = prose_with_words();
  for (auto _ : state) {
    std::string lowered(text);
    for (char& c : lowered)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    benchmark::DoNotOptimize(lowered.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Baseline_LowerCopy)->Unit(benchmark::kMillisecond);

// find() with the default filter (English built-in list) at level None, Basic, Aggressive,
// Thorough.
void BM_Find(benchmark::State& state) {
  const std::string& text = prose_with_words();
  TarnwhiskBuilder builder;
  builder.normalization(static_cast<NormalizationLevel>(state.range(0)));
  const Tarnwhisk filter = build_or_die(builder);
  std::size_t hits = 0;
  for (auto _ : state) {
    const std::vector<Match> found = filter.find(text);
    hits = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_Find)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// find() at level Basic with the text cut into pieces of about range(0) bytes (0: never
// cut): the piece size trades per-piece set-up against the working set staying in cache.
void BM_FindPieces(benchmark::State& state) {
  const std::string& text = prose_with_words();
  TarnwhiskBuilder builder;
  builder.piece_bytes(static_cast<std::size_t>(state.range(0)));
  const Tarnwhisk filter = build_or_die(builder);
  for (auto _ : state) {
    const std::vector<Match> found = filter.find(text);
    benchmark::DoNotOptimize(found.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FindPieces)->Arg(0)->Arg(1 << 12)->Arg(1 << 14)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

// The normalisation share of find(): normalize() alone on the same text and levels.
// 10 MB of the same words, as words and spaces only (nothing that no word contains, so
// no place where the text could be cut without carrying state) and with ". " between
// sentences of twelve words: find() must not care which.
const std::string& ten_megabytes(bool sentences) {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> sprinkle;
    for (const WordEntry& e : bundled_for(Language::En))
      if (sprinkle.size() < 64) sprinkle.push_back(e.word);
    const std::string prose = bench::prose(std::size_t{10} << 20, sprinkle);
    std::vector<std::string> out;
    std::string word;
    for (char c : prose) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        word += c;
      } else if (!word.empty()) {
        out.push_back(std::move(word));
        word.clear();
      }
    }
    return out;
  }();
  static const std::string plain = [] {
    std::string t;
    for (const std::string& w : words) (t += w) += ' ';
    return t;
  }();
  static const std::string punctuated = [] {
    std::string t;
    for (std::size_t i = 0; i < words.size(); ++i) (t += words[i]) += (i % 12 == 11 ? ". " : " ");
    return t;
  }();
  return sentences ? punctuated : plain;
}

void BM_FindTenMegabytes(benchmark::State& state) {
  const auto level = static_cast<NormalizationLevel>(state.range(0));
  const std::string& text = ten_megabytes(state.range(1) != 0);
  const Tarnwhisk f = build_or_die(std::move(TarnwhiskBuilder().normalization(level)));
  std::size_t hits = 0;
  for (auto _ : state) {
    auto found = f.find(text);
    hits = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["hits"] = static_cast<double>(hits);
}
// (level, sentences)
BENCHMARK(BM_FindTenMegabytes)->Args({1, 0})->Args({1, 1})->Args({2, 0})->Args({2, 1})->Args({3, 0})->Args({3, 1})->Unit(benchmark::kMillisecond);

void BM_NormalizeOnly(benchmark::State& state) {
  const std::string& text = prose_with_words();
  const auto level = static_cast<NormalizationLevel>(state.range(0));
  for (auto _ : state) {
    const NormalizedText normalized = normalize(text, level);
    benchmark::DoNotOptimize(normalized.text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NormalizeOnly)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// find() on messages of about 100 bytes cut from the same prose, one call each, at the
// level range(0): the cost of a call for the short texts most callers check.
void BM_FindMessage(benchmark::State& state) {
  static const std::vector<std::string> messages = [] {
    std::vector<std::string> out;
    for (std::size_t at = 0; out.size() < 256; at += 100) out.push_back(prose_with_words().substr(at, 100));
    return out;
  }();
  const Tarnwhisk f = build_or_die(std::move(TarnwhiskBuilder().normalization(static_cast<NormalizationLevel>(state.range(0)))));
  std::size_t k = 0, bytes = 0;
  for (auto _ : state) {
    const std::string& m = messages[k++ % messages.size()];
    auto found = f.find(m);
    benchmark::DoNotOptimize(found.data());
    bytes += m.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_FindMessage)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

// censor() with the default filter at level Basic.
void BM_Censor(benchmark::State& state) {
  const std::string& text = prose_with_words();
  const Tarnwhisk filter = build_or_die(TarnwhiskBuilder());
  for (auto _ : state) {
    const std::string out = filter.censor(text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Censor)->Unit(benchmark::kMillisecond);

TarnwhiskBuilder languages_builder(int count) {
  TarnwhiskBuilder builder;
  for (int i = 0; i < count; ++i) builder.language(static_cast<Language>(i));
  return builder;
}

// Building a filter of the first `range(0)` languages (1: the default English filter; 5:
// all five) at level `range(1)`. Counters: the filter's heap bytes and its automaton's
// share.
void BM_Build(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const auto level = static_cast<NormalizationLevel>(state.range(1));
  for (auto _ : state) {
    Tarnwhisk filter = build_or_die(std::move(languages_builder(count).normalization(level)));
    benchmark::DoNotOptimize(&filter);
  }
  const long long before = bench::g_live_bytes.load();
  const Tarnwhisk filter = build_or_die(std::move(languages_builder(count).normalization(level)));
  const long long after = bench::g_live_bytes.load();
  state.counters["filter_bytes"] = static_cast<double>(after - before);
  state.counters["automaton_bytes"] = static_cast<double>(filter.matcher().automaton_bytes());
  state.counters["words"] = static_cast<double>(filter.matcher().entries().size());
}
BENCHMARK(BM_Build)->Args({1, 1})->Args({5, 1})->Args({1, 3})->Args({5, 3})->Unit(benchmark::kMicrosecond);

// Baseline for the build: only fetching the built-in entries of the same languages.
void BM_Baseline_BundledFor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < count; ++i) {
      std::vector<WordEntry> list = bundled_for(static_cast<Language>(i));
      benchmark::DoNotOptimize(list.data());
    }
  }
}
BENCHMARK(BM_Baseline_BundledFor)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);

// ---- allowlist ---------------------------------------------------------------------------
constexpr std::size_t kAllowTerms = 100;
constexpr std::size_t kAllowHits = 10000;
constexpr std::size_t kLiteralHits = 16;  // the literal search costs ~terms x text per hit

struct AllowInput {
  std::vector<std::string> terms;
  std::string text;
  std::vector<Match> hits;        // kAllowHits, by increasing start
  std::vector<Match> few_hits;    // kLiteralHits of them, spread over the text
};

// 100 dictionary words as terms (some capitalised), 1 MB of prose with the terms
// sprinkled in, and hits of 3 to 8 bytes at random places.
const AllowInput& allow_input() {
  static const AllowInput input = [] {
    AllowInput in;
    const auto& dict = bench::dictionary_words();
    std::mt19937_64 rng(5);
    while (in.terms.size() < kAllowTerms) {
      std::string w = dict[rng() % dict.size()];
      if (w.size() < 5 || w.size() > 10) continue;
      if (in.terms.size() % 3 == 0) w[0] = static_cast<char>(w[0] - 32);
      in.terms.push_back(w);
    }
    in.text = bench::prose(kTextBytes, in.terms, 50);
    for (std::size_t i = 0; i < kAllowHits; ++i) {
      const std::size_t s = rng() % (in.text.size() - 8);
      Match m;
      m.start = s;
      m.end = s + 3 + rng() % 6;
      in.hits.push_back(m);
    }
    std::sort(in.hits.begin(), in.hits.end(), [](const Match& a, const Match& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < kLiteralHits; ++i) in.few_hits.push_back(in.hits[i * (kAllowHits / kLiteralHits)]);
    // The two algorithms must agree before their speeds mean anything.
    const Allowlist list(in.terms);
    if (list.filter(in.text, in.few_hits) != reference::literal_filter(in.terms, in.text, in.few_hits)) {
      std::fprintf(stderr, "allowlist disagrees with the literal search\n");
      std::abort();
    }
    return in;
  }();
  return input;
}

void BM_AllowlistIndexed(benchmark::State& state) {
  const AllowInput& in = allow_input();
  const Allowlist list(in.terms);
  const std::vector<Match>& hits = state.range(0) == 0 ? in.hits : in.few_hits;
  std::size_t kept = 0;
  for (auto _ : state) {
    const std::vector<Match> out = list.filter(in.text, hits);
    kept = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["hits"] = static_cast<double>(hits.size());
  state.counters["kept"] = static_cast<double>(kept);
  state.counters["time_per_hit"] = benchmark::Counter(
      static_cast<double>(hits.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AllowlistIndexed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AllowlistLiteral(benchmark::State& state) {
  const AllowInput& in = allow_input();
  std::size_t kept = 0;
  for (auto _ : state) {
    const std::vector<Match> out = reference::literal_filter(in.terms, in.text, in.few_hits);
    kept = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["hits"] = static_cast<double>(in.few_hits.size());
  state.counters["kept"] = static_cast<double>(kept);
  state.counters["time_per_hit"] = benchmark::Counter(
      static_cast<double>(in.few_hits.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AllowlistLiteral)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwhisk

BENCHMARK_MAIN();
