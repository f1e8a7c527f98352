// Counts every malloc of the benchmark program that includes it (operator new goes through it,
// and so do libjpeg's own pools); operator new alone is counted by tests/support/alloc_counter.
// The replacement is defined here, so exactly one source file of a program includes this. Not
// for sanitizer builds, whose own malloc it would bypass.
#pragma once

#include <atomic>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);
static std::atomic<long> mallocs{0};
extern "C" void* malloc(std::size_t size) {
    ++mallocs;
    return __libc_malloc(size);
}
