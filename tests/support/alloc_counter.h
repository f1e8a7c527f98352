// SPDX-License-Identifier: GPL-2.0-or-later
// Counts the allocations of a program that links alloc_counter.cpp, to show that a path runs
// without allocating: operator new (plain and nothrow), and the C library's malloc, calloc and
// realloc, whoever calls them (operator new, Qt, libjpeg).
#pragma once

namespace alloc_counter {

// The operator new calls so far, on every thread.
long Allocations();

// The malloc, calloc and realloc calls so far, on every thread; -1 in a sanitizer build, whose
// own allocator must not be bypassed.
long Mallocs();

}  // namespace alloc_counter
