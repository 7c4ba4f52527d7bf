#include "core/fatal.h"

#include <stdarg.h>

#include "core/cformat.h"

#include "core/memory.h"

void FatalError(const char* format, ...) {
  // Sized to the text: a first try in a stack buffer, then larger heap
  // buffers (some C libraries only report that the text did not fit).
  char small[1024];
  char* text = small;
  size_t size = sizeof small;
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = BoundedFormatV(text, size, format, args);
    va_end(args);
    if (n >= 0 || size >= (1u << 20)) break;  // fitted, or cut at 1 MB
    size_t wanted = size * 4;
    if (text != small) MemFree(text);
    text = (char*)MemAlloc(wanted);
    size = wanted;
  }
  FatalMessage(text);
}

void InternalFatalError(const char* module, int line) {
  FatalError("Internal Fatal Error\r\nModule: %s\r\nLine: %d", module, line);
}
