// Fatal sink for host programs and tests: the text goes to stderr, prefixed
// by the caption the runtime's box would carry, and the process exits with
// code 1, the runtime's only exit code.
#include <stdio.h>
#include <stdlib.h>

#include "core/fatal.h"
#include "core/memory.h"

void FatalMessage(const char* text) {
  fprintf(stderr, "FATAL ERROR: %s\n", text ? text : "");
  fflush(stderr);
  exit(1);
}

void OutOfMemory(size_t requested) {
  fprintf(stderr, "FATAL ERROR: Out Of Memory.  Requested size = %lu\n", (unsigned long)requested);
  fflush(stderr);
  exit(1);
}
