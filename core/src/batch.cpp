// Batches: texts cut into chunks that threads take one at a time. The calling thread is
// one of the workers and the only one that asks the caller's poll, so a caller that
// checks for signals or reports progress in it does so on its own thread.
#include "tarnwhisk/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace tarnwhisk {

std::size_t available_cores() noexcept {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::size_t>(count);
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

std::size_t resolve_workers(long long workers) {
  if (workers == kAllCores) return available_cores();
  if (workers < 1) throw std::invalid_argument("workers must be at least 1, or -1 for every core");
  return static_cast<std::size_t>(workers);
}

namespace {

// A chunk of about this many bytes takes the core a few hundred microseconds: short
// enough for a poll between chunks to come often, long enough that handing out chunks
// costs nothing measurable.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kChunkTexts = 1024;
constexpr std::size_t kMinChunkTexts = 16;
constexpr std::size_t kChunksPerWorker = 8;
// How often the calling thread, once out of chunks, asks the poll while it waits for the
// other threads.
constexpr std::chrono::milliseconds kWaitPoll{5};

}  // namespace

std::vector<std::size_t> plan_chunks(std::span<const std::string_view> texts, std::size_t workers) {
  const std::size_t n = texts.size();
  std::size_t limit = kChunkTexts;
  if (workers > 1) {
    limit = std::clamp(n / (workers * kChunksPerWorker), kMinChunkTexts, kChunkTexts);
  }
  std::vector<std::size_t> bounds{0};
  std::size_t bytes = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t size = texts[i].size();
    if (size >= kChunkBytes && count > 0) {
      bounds.push_back(i);
      bytes = count = 0;
    }
    bytes += size;
    ++count;
    if (bytes >= kChunkBytes || count >= limit) {
      bounds.push_back(i + 1);
      bytes = count = 0;
    }
  }
  if (bounds.back() != n) bounds.push_back(n);
  return bounds;
}

bool run_chunks(std::span<const std::size_t> bounds, std::size_t workers, const Poll& poll,
                const ChunkTask& task) {
  if (bounds.size() < 2) return true;
  const std::size_t chunks = bounds.size() - 1;

  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> finished{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable idle;
  std::size_t running = 0;  // started threads still at work, guarded by `mutex`
  std::exception_ptr error;  // the first exception of any thread, guarded by `mutex`

  // The caller's poll, asked with the texts finished so far; false stops every thread.
  auto ask = [&]() {
    if (stop.load(std::memory_order_relaxed)) return false;
    if (poll && !poll(finished.load(std::memory_order_relaxed))) {
      stop.store(true, std::memory_order_relaxed);
      return false;
    }
    return true;
  };
  const Poll calling_poll = [&](std::size_t) { return ask(); };
  const Poll worker_poll = [&](std::size_t) { return !stop.load(std::memory_order_relaxed); };

  auto work = [&](bool calling) {
    try {
      while (!stop.load(std::memory_order_relaxed)) {
        const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
        if (c >= chunks) break;
        if (!task(c, bounds[c], bounds[c + 1], calling ? calling_poll : worker_poll)) {
          stop.store(true, std::memory_order_relaxed);
          break;
        }
        finished.fetch_add(bounds[c + 1] - bounds[c], std::memory_order_relaxed);
        if (calling && !ask()) break;
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!error) error = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
  };

  std::vector<std::thread> threads;
  const std::size_t wanted = std::min(workers, chunks);
  if (wanted > 1) threads.reserve(wanted - 1);
  for (std::size_t k = 1; k < wanted; ++k) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++running;
    }
    try {
      threads.emplace_back([&] {
        work(false);
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        idle.notify_one();
      });
    } catch (...) {
      // No more threads to be had: the ones running (and this one) do the work.
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      break;
    }
  }
  work(true);
  // Out of chunks, the calling thread keeps asking the poll while the others finish
  // theirs, so that a long text on another thread can still be stopped.
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
      if (idle.wait_for(lock, kWaitPoll, [&] { return running == 0; })) break;
      lock.unlock();
      ask();
      lock.lock();
    }
  }
  for (std::thread& t : threads) t.join();
  if (error) std::rethrow_exception(error);
  return !stop.load(std::memory_order_relaxed);
}

std::optional<std::vector<std::vector<Match>>> find_batch(const Tarnwhisk& filter,
                                                          std::span<const std::string_view> texts,
                                                          std::size_t workers, const Poll& poll) {
  std::vector<std::vector<Match>> out(texts.size());
  const std::vector<std::size_t> bounds = plan_chunks(texts, workers);
  const bool done = run_chunks(bounds, workers, poll,
                               [&](std::size_t, std::size_t begin, std::size_t end, const Poll& p) {
                                 return filter.find_each(texts.subspan(begin, end - begin), p,
                                                         [&](std::size_t i, std::vector<Match>& hits) {
                                                           out[begin + i] = std::move(hits);
                                                         });
                               });
  if (!done) return std::nullopt;
  return out;
}

std::optional<std::vector<std::string>> censor_batch(const Tarnwhisk& filter,
                                                     std::span<const std::string_view> texts,
                                                     std::size_t workers, const Poll& poll) {
  std::vector<std::string> out(texts.size());
  const std::vector<std::size_t> bounds = plan_chunks(texts, workers);
  const bool done = run_chunks(bounds, workers, poll,
                               [&](std::size_t, std::size_t begin, std::size_t end, const Poll& p) {
                                 return filter.find_each(texts.subspan(begin, end - begin), p,
                                                         [&](std::size_t i, std::vector<Match>& hits) {
                                                           out[begin + i] = censor::apply(
                                                               texts[begin + i], hits, filter.censor_style(),
                                                               filter.mask_char());
                                                         });
                               });
  if (!done) return std::nullopt;
  return out;
}

std::optional<std::vector<bool>> contains_profanity_batch(const Tarnwhisk& filter,
                                                          std::span<const std::string_view> texts,
                                                          std::size_t workers, const Poll& poll) {
  // One byte per text, so that threads never write to the same byte.
  std::vector<unsigned char> found(texts.size());
  const std::vector<std::size_t> bounds = plan_chunks(texts, workers);
  const bool done = run_chunks(bounds, workers, poll,
                               [&](std::size_t, std::size_t begin, std::size_t end, const Poll& p) {
                                 // Short texts side by side; a long one alone, which may stop
                                 // reading at its first hit.
                                 for (std::size_t i = begin; i < end;) {
                                   std::size_t to = i;
                                   while (to < end && texts[to].size() <= Tarnwhisk::kSideBySideBytes) ++to;
                                   if (!filter.find_each(texts.subspan(i, to - i), p,
                                                         [&](std::size_t k, std::vector<Match>& hits) {
                                                           found[i + k] = !hits.empty();
                                                         }))
                                     return false;
                                   if (to == end) break;
                                   std::optional<bool> any = filter.contains_profanity(texts[to], p);
                                   if (!any) return false;
                                   found[to] = *any;
                                   i = to + 1;
                                 }
                                 return true;
                               });
  if (!done) return std::nullopt;
  return std::vector<bool>(found.begin(), found.end());
}

std::vector<std::vector<Match>> find_batch(const Tarnwhisk& filter, std::span<const std::string_view> texts,
                                           std::size_t workers) {
  // With no poll nothing but an exception stops a batch, and that propagates.
  return *find_batch(filter, texts, workers, Poll());
}

std::vector<std::string> censor_batch(const Tarnwhisk& filter, std::span<const std::string_view> texts,
                                      std::size_t workers) {
  return *censor_batch(filter, texts, workers, Poll());
}

std::vector<bool> contains_profanity_batch(const Tarnwhisk& filter, std::span<const std::string_view> texts,
                                           std::size_t workers) {
  return *contains_profanity_batch(filter, texts, workers, Poll());
}

}  // namespace tarnwhisk
