// SPDX-License-Identifier: GPL-2.0-or-later
// Replaces the global operator new and delete of the program it is linked into, and stands in
// front of the C library's allocator.
#include "tests/support/alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define VISTREL_COUNT_MALLOCS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VISTREL_COUNT_MALLOCS 0
#endif
#endif
#ifndef VISTREL_COUNT_MALLOCS
#define VISTREL_COUNT_MALLOCS 1
#endif

namespace {
std::atomic<long> allocations{0};
std::atomic<long> mallocs{0};
}  // namespace

namespace alloc_counter {

long Allocations() {
    return allocations.load();
}

long Mallocs() {
    return VISTREL_COUNT_MALLOCS ? mallocs.load() : -1;
}

}  // namespace alloc_counter

#if VISTREL_COUNT_MALLOCS
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);

void* malloc(std::size_t size) noexcept {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
}
#endif

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
