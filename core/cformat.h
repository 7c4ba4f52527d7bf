// The C library's bounded printf, the same on every platform.
//
// On Windows this is msvcrt's own _vsnprintf: the C99 replacement that
// mingw-w64 would otherwise link adds about 20 KB to the runtime. msvcrt's
// rules apply there: %I64d rather than %lld for 64-bit values, no %zu.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

// Writes at most size bytes, always NUL-terminated when size > 0. Returns the
// number of characters written without the NUL, or -1 when the text did not
// fit (it is then cut at size - 1).
inline int BoundedFormatV(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0) return -1;
#if defined(_WIN32)
  int n = _vsnprintf(buffer, size, format, args);
#else
  int n = vsnprintf(buffer, size, format, args);
#endif
  if (n < 0 || (size_t)n >= size) {
    buffer[size - 1] = '\0';
    return -1;
  }
  return n;
}

inline int BoundedFormat(char* buffer, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
inline int BoundedFormat(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = BoundedFormatV(buffer, size, format, args);
  va_end(args);
  return n;
}
