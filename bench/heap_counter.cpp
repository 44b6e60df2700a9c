#include "bench/heap_counter.h"

#include <atomic>

#include <malloc.h>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> peak{0};

// Counts what the allocator really hands out (malloc_usable_size), so that
// free can take back exactly the same amount.
void* Added(void* p) {
  if (!p) return p;
  std::size_t now = inUse.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) +
                    malloc_usable_size(p);
  std::size_t old = peak.load(std::memory_order_relaxed);
  while (now > old && !peak.compare_exchange_weak(old, now, std::memory_order_relaxed)) {
  }
  return p;
}

void Removed(void* p) {
  if (p) inUse.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) { return Added(__libc_malloc(size)); }
void* calloc(std::size_t n, std::size_t size) { return Added(__libc_calloc(n, size)); }
void free(void* p) {
  Removed(p);
  __libc_free(p);
}
void* realloc(void* p, std::size_t size) {
  Removed(p);
  void* q = __libc_realloc(p, size);
  if (!q && p && size) Added(p);  // the old block is still there
  return Added(q);
}
void* memalign(std::size_t alignment, std::size_t size) {
  return Added(__libc_memalign(alignment, size));
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return Added(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* p = Added(__libc_memalign(alignment, size));
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

void HeapResetPeak() { peak.store(inUse.load()); }
std::size_t HeapInUse() { return inUse.load(); }
std::size_t HeapPeak() { return peak.load(); }
