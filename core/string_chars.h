// Small character helpers: the String library's source files (storage and
// editing, plain search, pattern search and replace) share them, and so does
// any code that classifies or folds plain ASCII (drive letters, names
// compared without case). No locale: bytes from 0x80 up are never letters
// and never change.
#pragma once
#include <stdint.h>
#include <string.h>

namespace string_chars {

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ASCII letters folded to lower case.
inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

// ASCII letters folded to upper case: where the fold decides an order (the
// sorted environment block), the characters between 'Z' and 'a' sort after
// the letters, as the system sorts them.
inline char FoldAsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - ('a' - 'A')) : c; }

inline int32_t CLength(const char* text) { return text ? (int32_t)strlen(text) : 0; }

inline bool InSet(const char* set, char c) {
  for (; set && *set; ++set)
    if (*set == c) return true;
  return false;
}

// Compares n bytes of a and b, with ASCII letters folded when ignoreCase.
inline bool SameBytes(const char* a, const char* b, int32_t n, bool ignoreCase) {
  if (!ignoreCase) return memcmp(a, b, (size_t)n) == 0;
  for (int32_t i = 0; i < n; ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

}  // namespace string_chars
