// The batch methods: many texts in one call, read once (from str objects or an Arrow
// column: batch_input.cpp), worked on in chunks by the core's batch runner with the
// interpreter lock released, and answered as Python objects or as an Arrow column.
//
// Memory: an ASCII str is read where it lies and an Arrow column in its own buffers; a
// str with other characters is encoded into one buffer for the whole batch (its UTF-8
// size). Beside that a batch holds 16 bytes a text for its view (and 8 for its str
// object), the core's results until they are turned into Python objects or the result
// column, and for censor_batch the censored texts only of the texts that changed.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "arrow.hpp"
#include "batch_input.hpp"
#include "binding.hpp"
#include "tarnwhisk/batch.hpp"

namespace tarnwhisk::py {

namespace {

// One bit per row, least significant first, as Arrow packs validity and booleans.
ColumnBuffer pack_bits(std::size_t n, auto&& bit) {
  ColumnBuffer buffer((n + 7) / 8);
  auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
  for (std::size_t i = 0; i < n; ++i) {
    if (bit(i)) bytes[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
  }
  return buffer;
}

// The validity buffer of a result column (a null pointer when no row is null).
void add_validity(const Input& in, ColumnData& column) {
  const std::vector<std::uint8_t>& valid = in.arrow->valid;
  column.null_count = static_cast<std::int64_t>(std::count(valid.begin(), valid.end(), 0));
  if (column.null_count == 0) {
    column.buffers.push_back(nullptr);
    return;
  }
  column.owned.push_back(pack_bits(valid.size(), [&](std::size_t i) { return valid[i] != 0; }));
  column.buffers.push_back(column.owned.back().data());
}

// ---- find_batch ---------------------------------------------------------------------------

// One chunk's hits, one after the other, and where each text's end: a vector per chunk
// rather than one per text, so that a batch of a million texts does not hold (and free)
// a million vectors, and the Python objects are made from memory read in order.
struct FoundChunk {
  std::vector<Match> hits;
  std::vector<std::size_t> ends;  // one per row of the chunk: hits.size() after it
};

// The Match lists of chunk `c`'s rows into `list` (None for a null row); the chunk's hits
// are freed as they are turned into objects. False with the exception set on failure.
bool build_found(const Input& in, const std::vector<std::size_t>& bounds, FoundChunk& chunk, std::size_t c,
                 PyObject* list) {
  std::size_t from = 0;
  for (std::size_t i = bounds[c]; i < bounds[c + 1]; ++i) {
    const std::size_t to = chunk.ends[i - bounds[c]];
    PyObject* item;
    if (in.is_null(i)) {
      item = Py_None;
      Py_IncRef(item);
    } else {
      item = PyList_New(static_cast<Py_ssize_t>(to - from));
      if (!item) return false;
      for (std::size_t k = from; k < to; ++k) {
        PyObject* match = new_match(chunk.hits[k]);
        if (!match) {
          Py_DecRef(item);
          return false;
        }
        PyList_SetItem(item, static_cast<Py_ssize_t>(k - from), match);
      }
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
    from = to;
  }
  chunk = FoundChunk();
  return true;
}

PyObject* find_batch(const Tarnwhisk& filter, Input& in, std::size_t workers) {
  const std::size_t n = in.texts.size();
  const std::vector<std::size_t> bounds = plan_chunks(in.texts, workers);
  std::vector<FoundChunk> chunks(bounds.size() - 1);
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  // The Python objects are made on the calling thread with the lock held, which a batch
  // worked on by several threads would otherwise do alone after they all stopped: each
  // time the lock is back for the signal handlers, the chunks finished by then (a run of
  // them from the first one not yet made) are made while the threads go on. Only those:
  // chasing chunks that finish meanwhile could keep the calling thread making objects
  // for the whole batch, its share of the core's work left to the others.
  const std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[chunks.size()]());
  std::size_t built = 0;
  const auto build_finished = [&]() {
    std::size_t limit = built;
    while (limit < chunks.size() && finished[limit].load(std::memory_order_acquire)) ++limit;
    for (; built < limit; ++built) {
      if (!build_found(in, bounds, chunks[built], built, list.get())) return false;
    }
    return true;
  };
  const bool done = run(
      in, bounds, workers,
      [&](std::size_t c, std::size_t begin, std::size_t end, const Poll& poll) {
        FoundChunk& chunk = chunks[c];
        chunk.ends.reserve(end - begin);
        // A null row is an empty text, whose hits are none.
        const bool done = filter.find_each(chunk_texts(in, begin, end), poll,
                                           [&](std::size_t, std::vector<Match>& hits) {
                                             chunk.hits.insert(chunk.hits.end(), hits.begin(), hits.end());
                                             chunk.ends.push_back(chunk.hits.size());
                                           });
        if (!done) return false;
        finished[c].store(true, std::memory_order_release);
        return true;
      },
      build_finished);
  if (!done) return nullptr;
  for (; built < chunks.size(); ++built) {
    if (!signals_checked(built * kSignalStride)) return nullptr;
    if (!build_found(in, bounds, chunks[built], built, list.get())) return nullptr;
  }
  return list.release();
}

// ---- contains_profanity_batch ---------------------------------------------------------------

PyObject* contains_profanity_batch(const Tarnwhisk& filter, Input& in, std::size_t workers) {
  const std::size_t n = in.texts.size();
  std::vector<std::uint8_t> found(n);  // a byte per text: threads never share one
  const std::vector<std::size_t> bounds = plan_chunks(in.texts, workers);
  const bool done = run(in, bounds, workers, [&](std::size_t, std::size_t begin, std::size_t end, const Poll& poll) {
    // Short texts side by side; a long one alone, which may stop reading at its first hit.
    for (std::size_t i = begin; i < end;) {
      std::size_t to = i;
      while (to < end && in.texts[to].size() <= Tarnwhisk::kSideBySideBytes) ++to;
      const bool short_done = filter.find_each(chunk_texts(in, i, to), poll, [&](std::size_t k, std::vector<Match>& hits) {
        found[i + k] = !hits.empty();
      });
      if (!short_done) return false;
      if (to == end) break;
      if (!in.is_null(to)) {
        const std::optional<bool> any = filter.contains_profanity(in.texts[to], poll);
        if (!any) return false;
        found[to] = *any;
      }
      i = to + 1;
    }
    return true;
  });
  if (!done) return nullptr;
  if (!in.arrow) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
      PyObject* answer = found[i] ? Py_True : Py_False;
      Py_IncRef(answer);
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), answer);
    }
    return list.release();
  }
  auto column = std::make_shared<ColumnData>();
  column->format = "b";
  column->length = static_cast<std::int64_t>(n);
  add_validity(in, *column);
  column->owned.push_back(pack_bits(n, [&](std::size_t i) { return found[i] != 0; }));
  column->buffers.push_back(column->owned.back().data());
  return new_column(std::move(column));
}

// ---- censor_batch -------------------------------------------------------------------------

// What one chunk's censoring left: the censored texts of the rows that changed, one
// after the other, and the bytes its rows take in the result.
struct CensoredChunk {
  std::string bytes;
  std::vector<std::size_t> ends;  // one per changed row, in row order
  std::size_t result_bytes = 0;  // all rows of the chunk, changed or not
  std::size_t view_bytes = 0;  // rows longer than a string view holds inline
  std::size_t longest = 0;
};

constexpr std::size_t kInlineView = 12;

// The result text of each row of chunk `c`, in order: `visit(row, text)`.
template <class Visit>
void for_each_result(const Input& in, const std::vector<std::uint8_t>& changed, const CensoredChunk& chunk,
                     std::size_t begin, std::size_t end, Visit&& visit) {
  std::size_t k = 0;
  std::size_t from = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (!changed[i]) {
      visit(i, in.texts[i]);
      continue;
    }
    const std::size_t to = chunk.ends[k++];
    visit(i, std::string_view(chunk.bytes).substr(from, to - from));
    from = to;
  }
}

PyObject* censored_list(Input& in, const std::vector<std::uint8_t>& changed,
                        const std::vector<CensoredChunk>& chunks, const std::vector<std::size_t>& bounds) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(in.texts.size())));
  if (!list) return nullptr;
  for (std::size_t c = 0; c + 1 < bounds.size(); ++c) {
    bool ok = signals_checked(c * kSignalStride);
    for_each_result(in, changed, chunks[c], bounds[c], bounds[c + 1], [&](std::size_t i, std::string_view text) {
      if (!ok) return;
      // An unchanged text comes back as the very str it came as: our reference to it
      // goes into the list.
      PyObject* item = changed[i] ? PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))
                                  : in.items.take(i);
      ok = item && PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item) == 0;
    });
    if (!ok) return nullptr;
  }
  return list.release();
}

// Offsets ("u" or "U"): one data buffer, filled by the workers, each chunk at its place.
template <class Offset>
std::shared_ptr<ColumnData> offsets_column(const Input& in, const std::vector<std::uint8_t>& changed,
                                           const std::vector<CensoredChunk>& chunks,
                                           const std::vector<std::size_t>& bounds, std::size_t workers,
                                           std::size_t total, bool& done) {
  const std::size_t n = in.texts.size();
  auto column = std::make_shared<ColumnData>();
  column->format = sizeof(Offset) == 4 ? "u" : "U";
  column->length = static_cast<std::int64_t>(n);
  add_validity(in, *column);
  column->owned.emplace_back((n + 1) * sizeof(Offset), ColumnBuffer::Fill::None);
  column->owned.emplace_back(total, ColumnBuffer::Fill::None);
  auto* offsets = reinterpret_cast<Offset*>(column->owned[column->owned.size() - 2].data());
  char* data = reinterpret_cast<char*>(column->owned.back().data());
  std::vector<std::size_t> starts(chunks.size());
  for (std::size_t c = 1; c < chunks.size(); ++c) starts[c] = starts[c - 1] + chunks[c - 1].result_bytes;
  offsets[n] = static_cast<Offset>(total);
  done = run(in, bounds, workers, [&](std::size_t c, std::size_t begin, std::size_t end, const Poll&) {
    std::size_t at = starts[c];
    for_each_result(in, changed, chunks[c], begin, end, [&](std::size_t i, std::string_view text) {
      offsets[i] = static_cast<Offset>(at);
      if (!text.empty()) std::memcpy(data + at, text.data(), text.size());  // a null row's is no pointer
      at += text.size();
    });
    return true;
  });
  column->buffers.push_back(offsets);
  column->buffers.push_back(data);
  return column;
}

// Views ("vu"): one data buffer per chunk, made by the worker that fills it.
std::shared_ptr<ColumnData> views_column(const Input& in, const std::vector<std::uint8_t>& changed,
                                         const std::vector<CensoredChunk>& chunks,
                                         const std::vector<std::size_t>& bounds, std::size_t workers, bool& done) {
  const std::size_t n = in.texts.size();
  auto column = std::make_shared<ColumnData>();
  column->format = "vu";
  column->length = static_cast<std::int64_t>(n);
  add_validity(in, *column);
  column->owned.emplace_back(16 * n, ColumnBuffer::Fill::None);
  auto* views = reinterpret_cast<std::uint8_t*>(column->owned.back().data());
  std::vector<ColumnBuffer> data(chunks.size());
  done = run(in, bounds, workers, [&](std::size_t c, std::size_t begin, std::size_t end, const Poll&) {
    data[c] = ColumnBuffer(chunks[c].view_bytes, ColumnBuffer::Fill::None);
    char* out = reinterpret_cast<char*>(data[c].data());
    std::int32_t at = 0;
    for_each_result(in, changed, chunks[c], begin, end, [&](std::size_t i, std::string_view text) {
      std::uint8_t* view = views + 16 * i;
      std::memset(view, 0, 16);  // an inline text's unused bytes are zero
      const auto length = static_cast<std::int32_t>(text.size());
      std::memcpy(view, &length, 4);
      if (text.size() <= kInlineView) {
        if (!text.empty()) std::memcpy(view + 4, text.data(), text.size());
        return;
      }
      std::memcpy(view + 4, text.data(), 4);
      const auto index = static_cast<std::int32_t>(c);
      std::memcpy(view + 8, &index, 4);
      std::memcpy(view + 12, &at, 4);
      std::memcpy(out + at, text.data(), text.size());
      at += length;
    });
    return true;
  });
  column->buffers.push_back(views);
  column->owned.emplace_back(8 * chunks.size());
  auto* sizes = reinterpret_cast<std::int64_t*>(column->owned.back().data());
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    sizes[c] = static_cast<std::int64_t>(chunks[c].view_bytes);
    column->buffers.push_back(data[c].data());
  }
  column->buffers.push_back(sizes);
  for (ColumnBuffer& buffer : data) column->owned.push_back(std::move(buffer));
  return column;
}

PyObject* censor_batch(const Tarnwhisk& filter, Input& in, std::size_t workers) {
  const std::size_t n = in.texts.size();
  std::vector<std::uint8_t> changed(n);
  const std::vector<std::size_t> bounds = plan_chunks(in.texts, workers);
  std::vector<CensoredChunk> chunks(bounds.size() - 1);
  const bool done = run(in, bounds, workers, [&](std::size_t c, std::size_t begin, std::size_t end, const Poll& poll) {
    CensoredChunk& chunk = chunks[c];
    return filter.find_each(chunk_texts(in, begin, end), poll, [&](std::size_t k, std::vector<Match>& hits) {
      const std::size_t i = begin + k;
      const std::string_view text = in.texts[i];
      std::size_t size = text.size();
      if (!hits.empty()) {
        changed[i] = 1;
        chunk.bytes += censor::apply(text, hits, filter.censor_style(), filter.mask_char());
        size = chunk.bytes.size() - (chunk.ends.empty() ? 0 : chunk.ends.back());
        chunk.ends.push_back(chunk.bytes.size());
      }
      chunk.result_bytes += size;
      if (size > kInlineView) chunk.view_bytes += size;
      chunk.longest = std::max(chunk.longest, size);
    });
  });
  if (!done) return nullptr;
  if (!in.arrow) return censored_list(in, changed, chunks, bounds);

  std::size_t total = 0;
  std::size_t longest = 0;
  std::size_t widest_chunk = 0;
  for (const CensoredChunk& chunk : chunks) {
    total += chunk.result_bytes;
    longest = std::max(longest, chunk.longest);
    widest_chunk = std::max(widest_chunk, chunk.view_bytes);
  }
  std::shared_ptr<ColumnData> column;
  bool filled = false;
  if (in.arrow->layout == StringLayout::Views) {
    if (widest_chunk > static_cast<std::size_t>(INT32_MAX)) {
      PyErr_Format(PyExc_OverflowError, "a censored text of %zu bytes does not fit a string view", longest);
      return nullptr;
    }
    column = views_column(in, changed, chunks, bounds, workers, filled);
  } else if (in.arrow->layout == StringLayout::Offsets32 && total <= static_cast<std::size_t>(INT32_MAX)) {
    column = offsets_column<std::int32_t>(in, changed, chunks, bounds, workers, total, filled);
  } else {
    // Also a "u" column whose censored texts outgrow 32-bit offsets.
    column = offsets_column<std::int64_t>(in, changed, chunks, bounds, workers, total, filled);
  }
  if (!filled) return nullptr;
  return new_column(std::move(column));
}

}  // namespace

PyObject* call_batch(BatchCall call, const Tarnwhisk& filter, PyObject* texts, PyObject* workers) {
  std::size_t threads = 1;
  if (!parse_workers(workers, threads)) return nullptr;
  Input in;
  if (!read_input(texts, in)) return nullptr;
  switch (call) {
    case BatchCall::Find:
      return find_batch(filter, in, threads);
    case BatchCall::Censor:
      return censor_batch(filter, in, threads);
    case BatchCall::ContainsProfanity:
      return contains_profanity_batch(filter, in, threads);
  }
  PyErr_SetString(PyExc_SystemError, "tarnwhisk internal error: unknown batch call");
  return nullptr;
}

}  // namespace tarnwhisk::py
