// A counting global operator new/delete for the benchmark programs that report heap
// sizes: the bytes live now and the most that were live since the last reset. Include
// it in exactly one file of a program (it defines the replacement operators).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace tarnwhisk::bench {

inline std::atomic<long long> g_live_bytes{0};
inline std::atomic<long long> g_peak_bytes{0};

// Live heap bytes now, with the peak reset to it.
inline long long heap_mark() {
  const long long live = g_live_bytes.load();
  g_peak_bytes.store(live);
  return live;
}

namespace detail {

constexpr std::size_t kHeader = 16;  // keeps the user pointer aligned for max_align_t

inline void* counted_alloc(std::size_t n) noexcept {
  auto* p = static_cast<unsigned char*>(std::malloc(n + kHeader));
  if (!p) return nullptr;
  *reinterpret_cast<std::size_t*>(p) = n;
  const long long live =
      g_live_bytes.fetch_add(static_cast<long long>(n), std::memory_order_relaxed) + static_cast<long long>(n);
  long long peak = g_peak_bytes.load(std::memory_order_relaxed);
  while (live > peak && !g_peak_bytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
  return p + kHeader;
}

inline void counted_free(void* q) noexcept {
  if (!q) return;
  auto* p = static_cast<unsigned char*>(q) - kHeader;
  g_live_bytes.fetch_sub(static_cast<long long>(*reinterpret_cast<std::size_t*>(p)), std::memory_order_relaxed);
  std::free(p);
}

}  // namespace detail
}  // namespace tarnwhisk::bench

void* operator new(std::size_t n) {
  if (void* p = tarnwhisk::bench::detail::counted_alloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = tarnwhisk::bench::detail::counted_alloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return tarnwhisk::bench::detail::counted_alloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return tarnwhisk::bench::detail::counted_alloc(n);
}
void operator delete(void* p) noexcept { tarnwhisk::bench::detail::counted_free(p); }
void operator delete[](void* p) noexcept { tarnwhisk::bench::detail::counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { tarnwhisk::bench::detail::counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { tarnwhisk::bench::detail::counted_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { tarnwhisk::bench::detail::counted_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { tarnwhisk::bench::detail::counted_free(p); }
