// Batches give, text for text, what the single calls give, whatever the number of
// threads; the runner hands out every chunk exactly once, asks the poll on the calling
// thread only, stops when asked and carries a task's exception back to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tarnwhisk/batch.hpp"

#if defined(__linux__)
#include <sched.h>
#endif

namespace tarnwhisk {
namespace {

Tarnwhisk make_filter(CensorStyle style = CensorStyle::LengthPreserving) {
  Result<Tarnwhisk> built = TarnwhiskBuilder()
                                .without_bundled(true)
                                .add_words({{"darn", Category::Mild, 1, false},
                                            {"heck", Category::Strong, 2, true},
                                            {"\xC3\xA9t\xC3\xA9", Category::Slang, 3, false}})
                                .allowlist({"darning"})
                                .censor_style(style)
                                .mask_char(U'\u2588')
                                .build();
  EXPECT_TRUE(built);
  return std::move(built).value();
}

// Chat-sized texts with and without hits, empty ones, and a few longer than a piece (so
// that the filter cuts them) and longer than a chunk (so that they stand alone).
std::vector<std::string> make_texts(std::size_t count, unsigned seed) {
  static const std::vector<std::string> kWords = {"darn", "D4RN", "heck", "heckle", "darning", "caf\xC3\xA9",
                                                  "\xC3\xA9t\xC3\xA9", "the", "cat", "", "\xE6\x97\xA5"};
  std::mt19937 rng(seed);
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    std::string t;
    const std::size_t words = rng() % 50 == 0 ? 30000 : rng() % 12;
    for (std::size_t w = 0; w < words; ++w) {
      t += kWords[rng() % kWords.size()];
      t += ' ';
    }
    texts.push_back(std::move(t));
  }
  return texts;
}

std::vector<std::string_view> views(const std::vector<std::string>& texts) {
  return std::vector<std::string_view>(texts.begin(), texts.end());
}

TEST(Batch, ResultsEqualSingleCallsForEveryNumberOfWorkers) {
  for (CensorStyle style : {CensorStyle::LengthPreserving, CensorStyle::Grawlix}) {
    const Tarnwhisk filter = make_filter(style);
    const std::vector<std::string> texts = make_texts(700, 11);
    const std::vector<std::string_view> in = views(texts);
    for (std::size_t workers : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(workers);
      const auto found = find_batch(filter, in, workers);
      const auto censored = censor_batch(filter, in, workers);
      const auto any = contains_profanity_batch(filter, in, workers);
      ASSERT_EQ(found.size(), texts.size());
      ASSERT_EQ(censored.size(), texts.size());
      ASSERT_EQ(any.size(), texts.size());
      std::size_t hits = 0;
      for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(found[i], filter.find(texts[i])) << i;
        ASSERT_EQ(censored[i], filter.censor(texts[i])) << i;
        ASSERT_EQ(any[i], filter.contains_profanity(texts[i])) << i;
        hits += found[i].size();
      }
      EXPECT_GT(hits, texts.size());  // the texts really hold words to find
    }
  }
}

// Short texts searched side by side give each text's own hits, at every level and match
// mode, with the bundled list and an allowlist; long texts among them go alone.
TEST(Batch, SideBySideEqualsOneTextAtATime) {
  static const std::vector<std::string> kWords = {"shit", "Sh1t", "s h i t", "class", "ass", "assess", "fuuuck",
                                                  "f\xC3\xBC" "ck", "piece of shit", "son of a bitch", "hello", "",
                                                  "\xEF\xBD\x86uck", "dick.", "b!tch", "the", "a", "--", "\xE6\x97\xA5"};
  std::mt19937 rng(23);
  std::vector<std::string> texts;
  for (int i = 0; i < 600; ++i) {
    std::string t;
    const std::size_t words = rng() % 40 == 0 ? 400 : rng() % 30;
    for (std::size_t w = 0; w < words; ++w) t += kWords[rng() % kWords.size()] + (rng() % 3 ? " " : ", ");
    texts.push_back(std::move(t));
  }
  const std::vector<std::string_view> in = views(texts);
  for (NormalizationLevel level : {NormalizationLevel::None, NormalizationLevel::Basic, NormalizationLevel::Aggressive,
                                   NormalizationLevel::Thorough}) {
    for (MatchMode mode : {MatchMode::WordBoundary, MatchMode::Substring}) {
      SCOPED_TRACE(static_cast<int>(level) * 10 + static_cast<int>(mode));
      Result<Tarnwhisk> built =
          TarnwhiskBuilder().normalization(level).match_mode(mode).allowlist({"assess", "classic"}).build();
      ASSERT_TRUE(built);
      const Tarnwhisk& filter = built.value();
      std::vector<std::vector<Match>> each(texts.size());
      std::vector<std::size_t> order;
      ASSERT_TRUE(filter.find_each(in, Poll(), [&](std::size_t i, std::vector<Match>& hits) {
        order.push_back(i);
        each[i] = std::move(hits);
      }));
      ASSERT_EQ(order.size(), texts.size());
      for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(order[i], i);
        ASSERT_EQ(each[i], filter.find(texts[i])) << texts[i];
      }
    }
  }
}

TEST(Batch, EmptyBatch) {
  const Tarnwhisk filter = make_filter();
  EXPECT_TRUE(find_batch(filter, {}, 4).empty());
  EXPECT_TRUE(censor_batch(filter, {}, 1).empty());
  EXPECT_TRUE(contains_profanity_batch(filter, {}, 2).empty());
}

TEST(Batch, ResolveWorkers) {
  EXPECT_EQ(resolve_workers(1), 1u);
  EXPECT_EQ(resolve_workers(7), 7u);
  EXPECT_EQ(resolve_workers(kAllCores), available_cores());
  EXPECT_GE(available_cores(), 1u);
  for (long long bad : {0LL, -2LL, -100LL}) EXPECT_THROW(resolve_workers(bad), std::invalid_argument) << bad;
}

#if defined(__linux__)
TEST(Batch, AllCoresMeansTheAffinityMask) {
  // What the process may run on, not what the machine has: pinned to one core, -1 is 1.
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof(saved), &saved), 0);
  EXPECT_EQ(available_cores(), static_cast<std::size_t>(CPU_COUNT(&saved)));
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
  const std::size_t pinned = resolve_workers(kAllCores);
  ASSERT_EQ(sched_setaffinity(0, sizeof(saved), &saved), 0);
  EXPECT_EQ(pinned, 1u);
}
#endif

TEST(PlanChunks, CoversTheBatchInOrderWithLongTextsAlone) {
  struct Case {
    const char* name;
    std::vector<std::size_t> sizes;
    std::size_t workers;
  };
  const std::vector<Case> cases = {
      {"empty", {}, 1},
      {"one", {5}, 4},
      {"many short, one worker", std::vector<std::size_t>(5000, 100), 1},
      {"many short, two workers", std::vector<std::size_t>(5000, 100), 2},
      {"few short, many workers", std::vector<std::size_t>(40, 10), 16},
      {"long among short", {10, 10, 70000, 10, 200000, 200000, 10}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> texts;
    for (std::size_t size : c.sizes) texts.emplace_back(size, 'a');
    const std::vector<std::string_view> in = views(texts);
    const std::vector<std::size_t> bounds = plan_chunks(in, c.workers);
    ASSERT_FALSE(bounds.empty());
    EXPECT_EQ(bounds.front(), 0u);
    EXPECT_EQ(bounds.back(), texts.size());
    for (std::size_t k = 1; k < bounds.size(); ++k) {
      ASSERT_LT(bounds[k - 1], bounds[k]);  // no empty chunk
      EXPECT_LE(bounds[k] - bounds[k - 1], 1024u);
      for (std::size_t i = bounds[k - 1]; i < bounds[k]; ++i) {
        if (texts[i].size() >= 64 * 1024) {
          EXPECT_EQ(bounds[k] - bounds[k - 1], 1u) << "long text " << i;
        }
      }
    }
    // Enough chunks that every worker gets several, where the batch allows.
    if (c.workers > 1 && texts.size() >= 16 * 8 * c.workers) {
      EXPECT_GE(bounds.size() - 1, 8 * c.workers);
    }
  }
}

TEST(RunChunks, EveryChunkOnceAndPollOnTheCallingThreadOnly) {
  std::vector<std::size_t> bounds;
  for (std::size_t b = 0; b <= 3000; b += 3) bounds.push_back(b);
  for (std::size_t workers : {1u, 2u, 5u}) {
    SCOPED_TRACE(workers);
    std::vector<std::atomic<int>> runs(bounds.size() - 1);
    std::mutex m;
    std::set<std::thread::id> threads;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> polled_elsewhere{false};
    std::size_t last_done = 0;
    bool done_decreased = false;
    const Poll poll = [&](std::size_t done) {
      if (std::this_thread::get_id() != caller) polled_elsewhere = true;
      done_decreased |= done < last_done || done > 3000;
      last_done = done;
      return true;
    };
    const bool finished = run_chunks(bounds, workers, poll,
                                     [&](std::size_t c, std::size_t begin, std::size_t end, const Poll&) {
                                       EXPECT_EQ(begin, bounds[c]);
                                       EXPECT_EQ(end, bounds[c + 1]);
                                       runs[c]++;
                                       std::lock_guard<std::mutex> lock(m);
                                       threads.insert(std::this_thread::get_id());
                                       return true;
                                     });
    EXPECT_TRUE(finished);
    for (std::size_t c = 0; c < runs.size(); ++c) ASSERT_EQ(runs[c].load(), 1) << c;
    EXPECT_LE(threads.size(), workers);
    EXPECT_FALSE(polled_elsewhere);
    EXPECT_FALSE(done_decreased);
  }
}

TEST(RunChunks, StopsWhenThePollOrATaskSaysSo) {
  std::vector<std::size_t> bounds;
  for (std::size_t b = 0; b <= 10000; ++b) bounds.push_back(b);
  for (std::size_t workers : {1u, 3u}) {
    SCOPED_TRACE(workers);
    std::atomic<std::size_t> ran{0};
    int asked = 0;
    auto count = [&](std::size_t, std::size_t, std::size_t, const Poll&) {
      ran++;
      std::this_thread::yield();
      return true;
    };
    EXPECT_FALSE(run_chunks(bounds, workers, [&](std::size_t) { return ++asked < 3; }, count));
    EXPECT_EQ(asked, 3);
    EXPECT_LT(ran.load(), 10000u);

    ran = 0;
    auto refuse = [&](std::size_t c, std::size_t, std::size_t, const Poll&) {
      ran++;
      return c < 5;
    };
    EXPECT_FALSE(run_chunks(bounds, workers, Poll(), refuse));
    EXPECT_LT(ran.load(), 10000u);
  }
}

TEST(RunChunks, TaskExceptionReachesTheCaller) {
  std::vector<std::size_t> bounds;
  for (std::size_t b = 0; b <= 500; ++b) bounds.push_back(b);
  for (std::size_t workers : {1u, 4u}) {
    auto fail = [](std::size_t c, std::size_t, std::size_t, const Poll&) -> bool {
      if (c == 77) throw std::runtime_error("chunk 77");
      return true;
    };
    EXPECT_THROW(run_chunks(bounds, workers, Poll(), fail), std::runtime_error) << workers;
  }
}

TEST(Batch, PollStopsTheBatchAndMayCallTheFilter) {
  const Tarnwhisk filter = make_filter();
  const std::vector<std::string> texts = make_texts(3000, 5);
  const std::vector<std::string_view> in = views(texts);
  for (std::size_t workers : {1u, 2u}) {
    int asked = 0;
    // The poll runs between chunks, where no per-thread buffer is in use: it may call
    // the filter itself, and it stops the batch on its second question.
    const Poll poll = [&](std::size_t) {
      EXPECT_EQ(filter.censor("oh darn"), "oh \u2588\u2588\u2588\u2588");
      return ++asked < 2;
    };
    EXPECT_FALSE(find_batch(filter, in, workers, poll).has_value());
    EXPECT_FALSE(censor_batch(filter, in, workers, poll).has_value());
    EXPECT_FALSE(contains_profanity_batch(filter, in, workers, poll).has_value());
    const auto whole = censor_batch(filter, in, workers, [](std::size_t) { return true; });
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(whole->size(), texts.size());
  }
}

}  // namespace
}  // namespace tarnwhisk
