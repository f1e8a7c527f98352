// Counts every heap allocation of the benchmark program that includes it: every malloc
// (operator new goes through it, and so do libjpeg's own pools) and every operator new. The
// replacements are defined here, so exactly one source file of a program includes this.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

extern "C" void* __libc_malloc(std::size_t size);
static std::atomic<long> mallocs{0};
static std::atomic<long> news{0};
extern "C" void* malloc(std::size_t size) {
    ++mallocs;
    return __libc_malloc(size);
}
void* operator new(std::size_t size) {
    ++news;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++news;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
