#include "core/memory.h"

#include <stdlib.h>

void* MemAlloc(size_t size) {
  void* block = malloc(size ? size : 1);
  if (!block) OutOfMemory(size);
  return block;
}

void* MemRealloc(void* block, size_t size) {
  void* grown = realloc(block, size ? size : 1);
  if (!grown) OutOfMemory(size);
  return grown;
}

void* MemTryRealloc(void* block, size_t size) { return realloc(block, size ? size : 1); }

void MemFree(void* block) { free(block); }
