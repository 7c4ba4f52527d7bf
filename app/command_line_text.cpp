#include "app/command_line_text.h"

#include <string.h>

#include "core/string_chars.h"

using string_chars::FoldAscii;

const char* ArgumentsAfterProgram(const char* commandLine, const char* programPath, const char* fallback) {
  if (!commandLine || !programPath || !*programPath) return fallback;
  const char* p = commandLine;
  while (*p == ' ' || *p == '\t') ++p;
  const bool quoted = *p == '"';
  if (quoted) ++p;
  const size_t n = strlen(programPath);
  for (size_t i = 0; i < n; ++i)
    if (!p[i] || FoldAscii(p[i]) != FoldAscii(programPath[i])) return fallback;
  p += n;
  if (quoted) {
    if (*p != '"') return fallback;
    ++p;
  }
  if (*p && *p != ' ' && *p != '\t') return fallback;
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}
