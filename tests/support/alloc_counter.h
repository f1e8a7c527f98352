// Counts the allocations made through operator new (plain and nothrow) in a program that links
// alloc_counter.cpp, to show that a path runs without allocating.
#pragma once

namespace alloc_counter {

// The operator new calls so far, on every thread.
long Allocations();

}  // namespace alloc_counter
