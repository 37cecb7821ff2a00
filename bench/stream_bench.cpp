// The stream against the whole-text calls: speed of find() and censor() on 32 MB of prose
// beside a stream over the same text in chunks of 4 KiB to 1 MiB, and the stream's heap
// over 16 and 128 MB (the same 1 MiB of prose again and again, so the input itself is
// never held), which must not grow with the length. A run of one repeated character is
// the documented exception: its source waits until the run ends.
//
// Heap figures come from a counting global operator new/delete in this program:
// peak_heap_KB is the highest count of live bytes during the work minus the count
// before it (the input, where it is held, is not part of it). The memory cases run on a
// fresh thread each, so that the stream's window buffers, which a thread keeps for its
// next stream, are counted every time.
//
//   build/bench/stream_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "corpus.hpp"
#include "counting_heap.hpp"
#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;
constexpr std::size_t kWholeBytes = 32 * kBlock;

// 1 MiB of prose with built-in English words sprinkled in (about one word in 200).
const std::string& block() {
  static const std::string text = [] {
    std::vector<std::string> sprinkle;
    for (const WordEntry& e : bundled_for(Language::En))
      if (sprinkle.size() < 64) sprinkle.push_back(e.word);
    return bench::prose(kBlock, sprinkle);
  }();
  return text;
}

const std::string& whole_text() {
  static const std::string text = [] {
    std::string t;
    t.reserve(kWholeBytes);
    while (t.size() < kWholeBytes) t += block();
    return t;
  }();
  return text;
}

// The default filter with an allowlist, so that every stage of the stream runs.
const Tarnwhisk& filter() {
  static const Tarnwhisk f = [] {
    Result<Tarnwhisk> r = TarnwhiskBuilder().allowlist({"hello", "shell", "class", "scunthorpe"}).build();
    if (!r) {
      std::fprintf(stderr, "build failed\n");
      std::abort();
    }
    return std::move(r).value();
  }();
  return f;
}

void report(benchmark::State& state, std::size_t bytes, long long mark, std::size_t hits) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["peak_heap_KB"] = static_cast<double>(bench::g_peak_bytes.load() - mark) / 1024.0;
}

void BM_WholeFind(benchmark::State& state) {
  const std::string& text = whole_text();
  const Tarnwhisk& f = filter();
  std::size_t hits = 0;
  const long long mark = bench::heap_mark();
  for (auto _ : state) {
    const std::vector<Match> found = f.find(text);
    hits = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  report(state, text.size(), mark, hits);
}
BENCHMARK(BM_WholeFind)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeCensor(benchmark::State& state) {
  const std::string& text = whole_text();
  const Tarnwhisk& f = filter();
  const long long mark = bench::heap_mark();
  for (auto _ : state) {
    const std::string out = f.censor(text);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, text.size(), mark, 0);
}
BENCHMARK(BM_WholeCensor)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same 32 MB through a stream in chunks of range(0) bytes; range(1) = 1 writes the
// censored text (thrown away after each chunk, as a caller would write it out).
void BM_Stream(benchmark::State& state) {
  const std::string& text = whole_text();
  const Tarnwhisk& f = filter();
  const std::size_t chunk = static_cast<std::size_t>(state.range(0));
  const bool censor = state.range(1) != 0;
  std::size_t hits = 0;
  const long long mark = bench::heap_mark();
  for (auto _ : state) {
    TextStream stream = f.stream({.censor = censor});
    TextStream::Output out;
    hits = 0;
    for (std::size_t from = 0; from < text.size(); from += chunk) {
      stream.feed(std::string_view(text).substr(from, chunk), out);
      hits += out.hits.size();
      benchmark::DoNotOptimize(out.censored.data());
      out.hits.clear();
      out.censored.clear();
    }
    stream.finish(out);
    hits += out.hits.size();
  }
  report(state, text.size(), mark, hits);
}
BENCHMARK(BM_Stream)
    ->ArgsProduct({{4 << 10, 64 << 10, 1 << 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Feeds a stream through `feed(chunk)`, where chunk(bytes) feeds bytes and takes the
// output away, and reports its heap and largest held_bytes(). The stream runs on a thread
// of its own: it takes its window buffers from a spare set that each thread keeps, so a
// fresh thread counts them in every time.
template <class Feed>
void measure_stream(benchmark::State& state, std::size_t bytes, Feed&& feed) {
  const Tarnwhisk& f = filter();
  std::size_t hits = 0, most_held = 0;
  const long long mark = bench::heap_mark();
  for (auto _ : state) {
    std::thread([&] {
      TextStream stream = f.stream();
      TextStream::Output out;
      auto chunk = [&](std::string_view piece) {
        stream.feed(piece, out);
        hits += out.hits.size();
        most_held = std::max(most_held, stream.held_bytes());
        out.hits.clear();
        out.censored.clear();
      };
      feed(chunk);
      stream.finish(out);
      hits += out.hits.size();
    }).join();
  }
  report(state, bytes, mark, hits);
  state.counters["most_held_KB"] = static_cast<double>(most_held) / 1024.0;
}

// range(0) MB of prose in chunks of 64 KiB, censored, once.
void BM_StreamMemory(benchmark::State& state) {
  const std::string_view unit = block();
  const std::size_t megabytes = static_cast<std::size_t>(state.range(0));
  constexpr std::size_t kChunk = 64 << 10;
  measure_stream(state, megabytes * unit.size(), [&](auto& chunk) {
    for (std::size_t mb = 0; mb < megabytes; ++mb)
      for (std::size_t from = 0; from < unit.size(); from += kChunk) chunk(unit.substr(from, kChunk));
  });
}
BENCHMARK(BM_StreamMemory)->Arg(16)->Arg(128)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0) MB of one repeated letter inside a word: the run is one normalised character
// until it ends, so its source waits, and the heap grows with it.
void BM_StreamRepeatedRun(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
  const std::string run(64 << 10, 'u');
  measure_stream(state, bytes, [&](auto& chunk) {
    chunk("what the f");
    for (std::size_t done = 0; done < bytes; done += run.size()) chunk(run);
    chunk("ck, boss");
  });
}
BENCHMARK(BM_StreamRepeatedRun)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarnwhisk

BENCHMARK_MAIN();
