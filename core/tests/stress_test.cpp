// One filter is meant to serve many threads at once, and filters are built and dropped
// while others are in use. Nothing in the core may be shared mutable state in disguise
// (a lazily filled table, a static scratch buffer, a cache): every thread must get
// exactly the answers a serial run gives.
#include <atomic>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tarnwhisk/tarnwhisk.hpp"

namespace tarnwhisk {
namespace {

// Thread-safe by construction: counts its calls atomically, scores by position.
class CountingScorer final : public SemanticScorer {
 public:
  float score(std::string_view, const Match& hit) const override {
    calls.fetch_add(1, std::memory_order_relaxed);
    return (hit.start % 4 == 3) ? 0.0f : 1.0f;
  }
  mutable std::atomic<std::size_t> calls{0};
};

// Words from the filter's own list, dressed up the ways writers disguise them, between
// ordinary words and non-ASCII text.
std::vector<std::string> make_texts(const std::vector<WordEntry>& entries, std::size_t count) {
  static const char* const kFiller[] = {"the",  "quick", "brown", "fox",    "héllo", "naïve",
                                        "日本語", "😀",     "hello", "class",  "shell", "scunthorpe"};
  static const char* const kJoin[] = {" ", ".", "\u200b", "-", "", "  "};
  std::mt19937 rng(20261207);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::vector<std::string> out;
  for (std::size_t t = 0; t < count; ++t) {
    std::string s;
    for (std::size_t k = 0, n = 3 + pick(12); k < n; ++k) {
      if (pick(3) == 0 && !entries.empty()) {
        std::string w = entries[pick(entries.size())].word;
        switch (pick(5)) {
          case 0: for (char& c : w) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32); break;
          case 1: {  // letters split by a separator or an invisible character
            std::string spaced;
            const char* join = kJoin[pick(std::size(kJoin))];
            for (char c : w) spaced += std::string(1, c) + join;
            w = spaced;
            break;
          }
          case 2: for (char& c : w) if (c == 'i') c = '1'; else if (c == 'e') c = '3'; break;
          case 3: if (!w.empty()) w.insert(1, std::string(4, w[0])); break;
          default: break;
        }
        s += w;
      } else {
        s += kFiller[pick(std::size(kFiller))];
      }
      s += pick(4) == 0 ? ", " : " ";
    }
    out.push_back(std::move(s));
  }
  return out;
}

struct Answers {
  std::vector<std::vector<Match>> hits;
  std::vector<std::string> censored;
};

Answers serial(const Tarnwhisk& filter, const std::vector<std::string>& texts) {
  Answers a;
  for (const auto& t : texts) {
    a.hits.push_back(filter.find(t));
    a.censored.push_back(filter.censor(t));
  }
  return a;
}

// The configurations that threads build and drop while the shared filter is in use.
Tarnwhisk build_variant(std::size_t k, const std::shared_ptr<const SemanticScorer>& scorer) {
  TarnwhiskBuilder b;
  b.language(static_cast<Language>(k % 5));
  if (k % 2 == 1) b.language(Language::En);
  b.normalization(static_cast<NormalizationLevel>(k % 3));
  b.match_mode(static_cast<MatchMode>(k % 2));
  b.censor_style(static_cast<CensorStyle>(k % 4));
  b.mask_char(k % 3 == 0 ? U'█' : U'*');
  b.add_words({{"zzyzx", Category::Slang, 1, k % 2 == 0}});
  b.allowlist({"class", "scunthorpe"});
  if (k % 4 == 3) b.scorer(scorer);
  auto built = b.build();
  EXPECT_TRUE(built.ok());
  return std::move(built).value();
}

TEST(Stress, ConcurrentCallsMatchASerialRun) {
  const auto scorer = std::make_shared<CountingScorer>();
  constexpr std::size_t kVariants = 8;

  TarnwhiskBuilder b;
  b.language(Language::En).language(Language::Fr).normalization(NormalizationLevel::Basic);
  b.allowlist({"class", "scunthorpe", "hello"}).scorer(scorer).mask_char(U'█');
  auto built = b.build();
  ASSERT_TRUE(built.ok());
  const Tarnwhisk& shared = built.value();
  const std::vector<std::string> texts = make_texts(shared.matcher().entries(), 96);

  const Answers want = serial(shared, texts);
  std::vector<Answers> variant_want;
  for (std::size_t k = 0; k < kVariants; ++k) variant_want.push_back(serial(build_variant(k, scorer), texts));
  std::size_t total_hits = 0;
  for (const auto& h : want.hits) total_hits += h.size();
  ASSERT_GT(total_hits, texts.size() / 2) << "the texts should hold hits for the test to mean anything";

  const std::size_t threads = std::max(4u, std::thread::hardware_concurrency() * 2);
  constexpr std::size_t kRounds = 6;
  std::atomic<std::size_t> mismatches{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> pool;
  for (std::size_t id = 0; id < threads; ++id) {
    pool.emplace_back([&, id] {
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      for (std::size_t round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
          const std::size_t t = (i * 7 + id * 13 + round) % texts.size();
          if (shared.find(texts[t]) != want.hits[t]) mismatches.fetch_add(1);
          if (shared.censor(texts[t]) != want.censored[t]) mismatches.fetch_add(1);
          if (shared.contains_profanity(texts[t]) != !want.hits[t].empty()) mismatches.fetch_add(1);
        }
        // Half the threads build a filter, use it on a few texts and drop it.
        if (id % 2 == 1) {
          const std::size_t k = (id + round) % kVariants;
          const Tarnwhisk variant = build_variant(k, scorer);
          for (std::size_t t = round; t < texts.size(); t += 11) {
            if (variant.find(texts[t]) != variant_want[k].hits[t]) mismatches.fetch_add(1);
            if (variant.censor(texts[t]) != variant_want[k].censored[t]) mismatches.fetch_add(1);
          }
        }
      }
    });
  }
  go.store(true, std::memory_order_release);
  for (auto& th : pool) th.join();
  EXPECT_EQ(mismatches.load(), 0u);
  EXPECT_GT(scorer->calls.load(), 0u);
  // The builders and filters that shared the scorer are gone; only this test holds it.
  EXPECT_EQ(scorer.use_count(), 2);  // `scorer` and the shared filter
}

}  // namespace
}  // namespace tarnwhisk
