// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A counting allocator for the whole process: malloc and its relatives (which
// operator new calls too) are counted, then handed to the C library's own. Each
// count goes to the region the allocating thread has declared itself in, so that
// the project's own code can be told from the toolkit's. Include from exactly one
// source file of a program. Sanitizer builds keep their own allocator and count
// nothing (countingWorks() says so).

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>

namespace tavrin::bench {

enum Region : int {
    kOther,   // set-up, and whatever runs on threads of its own
    kProject, // the project's code on the picture path
    kQtPost,  // inside Qt's postEvent, called on the read thread
    kQtLoop,  // Qt's event loop between our handlers (and the paint it runs)
    kBoard,   // the simulated board, standing in for the USB stack
    kRegionCount
};

inline thread_local int tRegion = kOther;
inline std::atomic<bool> gCounting{false};
inline std::atomic<uint64_t> gAllocations[kRegionCount];

inline void noteAllocation() {
    if (gCounting.load(std::memory_order_relaxed))
        gAllocations[tRegion].fetch_add(1, std::memory_order_relaxed);
}

// The region of the calling thread until the scope ends.
class InRegion {
  public:
    explicit InRegion(int region) : previous_(tRegion) { tRegion = region; }
    ~InRegion() { tRegion = previous_; }
    InRegion(const InRegion&) = delete;
    InRegion& operator=(const InRegion&) = delete;

  private:
    int previous_;
};

inline uint64_t allocations(int region) {
    return gAllocations[region].load(std::memory_order_relaxed);
}

} // namespace tavrin::bench

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_BENCH_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TAVRIN_BENCH_SANITIZED 1
#endif
#endif

#ifndef TAVRIN_BENCH_SANITIZED
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    return __libc_realloc(p, size);
}
void free(void* p) noexcept {
    __libc_free(p);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    tavrin::bench::noteAllocation();
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}
#endif

namespace tavrin::bench {

// Whether allocations are counted in this build: one `new` must show.
inline bool countingWorks() {
    const uint64_t before = allocations(tRegion);
    gCounting.store(true);
    void* volatile p = ::operator new(16); // a call, not a new-expression: never left out
    ::operator delete(p);
    gCounting.store(false);
    return allocations(tRegion) > before;
}

} // namespace tavrin::bench
