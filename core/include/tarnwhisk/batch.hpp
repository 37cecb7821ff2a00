// Many texts in one call, on several threads: the filter's three calls over a batch,
// and the chunked runner beneath them for callers that keep their own results.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwhisk/config.hpp"
#include "tarnwhisk/matcher.hpp"

namespace tarnwhisk {

// The `workers` value that stands for every core the process may run on.
inline constexpr long long kAllCores = -1;

// The number of cores in the process's affinity mask (what the operating system lets
// this process run on, which may be fewer than the machine has); at least 1.
std::size_t available_cores() noexcept;

// The number of threads that `workers` asks for: `workers` itself when it is 1 or more,
// available_cores() for kAllCores. Throws std::invalid_argument for anything else.
std::size_t resolve_workers(long long workers);

// A batch is worked on in chunks: runs of consecutive texts that one thread takes at a
// time. Chunk c holds the texts [bounds[c], bounds[c + 1]).
//
// Cuts `texts` into chunks of about 64 KiB or at most 1024 texts, smaller when that
// leaves fewer than eight chunks per worker (but never below 16 texts), so that threads
// share the work evenly and a caller polling between chunks is asked often. A text
// longer than a chunk is a chunk of its own. Returns {0} for an empty batch.
std::vector<std::size_t> plan_chunks(std::span<const std::string_view> texts, std::size_t workers);

// Work on one chunk: the chunk's index and its texts [begin, end). `poll` is to be handed
// to the filter's calls (it stops them between the pieces of a long text). Returns false
// to stop the whole batch.
using ChunkTask = std::function<bool(std::size_t chunk, std::size_t begin, std::size_t end,
                                     const Poll& poll)>;

// Runs `task` once for every chunk of `bounds` (as made by plan_chunks), on
// min(workers, chunks) threads: the calling thread and threads started for this call and
// joined before it returns. Chunks are handed out in order, one at a time, to whichever
// thread is free, so any chunk may run on any thread; tasks must only write what belongs
// to their own chunk.
//
// `poll` (may be empty) is asked on the calling thread only, after each chunk that thread
// finishes and between the pieces of its long texts, with the number of texts finished so
// far by all threads. When it returns false, or a task returns false, no chunk is started
// any more, running ones stop at their next piece, and run_chunks returns false once all
// threads have stopped. An exception thrown by a task stops the batch the same way and is
// rethrown on the calling thread. If a thread cannot be started, the threads that did
// start do the work.
bool run_chunks(std::span<const std::size_t> bounds, std::size_t workers, const Poll& poll,
                const ChunkTask& task);

// The filter's calls over a batch, with `workers` threads (see resolve_workers). Each
// result is in the order of `texts` and equals what the single call gives for that text.
std::vector<std::vector<Match>> find_batch(const Tarnwhisk& filter,
                                           std::span<const std::string_view> texts,
                                           std::size_t workers = 1);
std::vector<std::string> censor_batch(const Tarnwhisk& filter, std::span<const std::string_view> texts,
                                      std::size_t workers = 1);
std::vector<bool> contains_profanity_batch(const Tarnwhisk& filter,
                                           std::span<const std::string_view> texts,
                                           std::size_t workers = 1);

// The same, asking `poll` as run_chunks does (with the number of texts finished); when it
// returns false the batch stops and the result is std::nullopt.
std::optional<std::vector<std::vector<Match>>> find_batch(const Tarnwhisk& filter,
                                                          std::span<const std::string_view> texts,
                                                          std::size_t workers, const Poll& poll);
std::optional<std::vector<std::string>> censor_batch(const Tarnwhisk& filter,
                                                     std::span<const std::string_view> texts,
                                                     std::size_t workers, const Poll& poll);
std::optional<std::vector<bool>> contains_profanity_batch(const Tarnwhisk& filter,
                                                          std::span<const std::string_view> texts,
                                                          std::size_t workers, const Poll& poll);

}  // namespace tarnwhisk
