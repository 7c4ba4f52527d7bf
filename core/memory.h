// Heap blocks of the core library.
//
// Every allocation of the library goes through MemAlloc/MemRealloc. A failed
// allocation never returns to the caller: it ends in OutOfMemory(), which the
// program supplies (the runtime shows the out-of-memory report and ends the
// process; host tools print it and exit with code 1). Code that must survive
// a large allocation whose size comes from outside uses MemTryRealloc, which
// returns null instead and leaves the old block untouched.
#pragma once
#include <stddef.h>

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);
void* MemTryRealloc(void* block, size_t size);
void MemFree(void* block);

// Defined by the program (runtime: app/, host programs: core/host_fatal.cpp).
[[noreturn]] void OutOfMemory(size_t requested);
