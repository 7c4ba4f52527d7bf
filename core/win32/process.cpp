#include "core/win32/process.h"

#include <string.h>

#include "core/string_chars.h"

using string_chars::FoldAsciiUpper;

namespace {

bool IsCommandBlank(char c) { return c == ' ' || c == '\t'; }

// Compares the names of two "name=value" entries, ASCII letters folded.
int CompareEntryNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char ca = *a == '=' ? '\0' : FoldAsciiUpper(*a);
    const char cb = *b == '=' ? '\0' : FoldAsciiUpper(*b);
    if (ca != cb) return (unsigned char)ca < (unsigned char)cb ? -1 : 1;
    if (ca == '\0') return 0;
  }
}

}  // namespace

uint32_t ProcessCreationFlags(uint32_t runFlags) {
  uint32_t creation = (runFlags & kRunHighPriority)   ? 0x80u
                      : (runFlags & kRunIdlePriority) ? 0x40u
                                                      : 0x20u;
  if (runFlags & kRunNewConsole) creation |= 0x10u;
  return creation;
}

String CommandLineProgram(const char* commandLine, bool* quoted) {
  const char* p = commandLine ? commandLine : "";
  while (IsCommandBlank(*p)) ++p;
  const bool isQuoted = *p == '"';
  if (quoted) *quoted = isQuoted;
  if (isQuoted) {
    const char* end = strchr(p + 1, '"');
    return end ? String(p + 1, (int32_t)(end - p - 1)) : String(p + 1);
  }
  const char* end = p;
  while (*end && !IsCommandBlank(*end)) ++end;
  return String(p, (int32_t)(end - p));
}

bool IsBareProgramName(const char* name) {
  return name && *name && !strpbrk(name, "\\/:");
}

bool HasFileExtension(const char* name) {
  const char* base = name ? name : "";
  for (const char* p = base; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
  const char* dot = strrchr(base, '.');
  return dot && dot[1] != '\0';
}

void SetEnvironmentEntry(String& block, const char* name, const char* value) {
  String entry(name);
  entry.AppendChar('=');
  entry.Append(value);
  // Entries that start with '=' (the drives' current directories) come
  // first and are never replaced; a named entry goes in its sorted place.
  int32_t at = 0;
  int32_t insertAt = -1;
  while (at < block.Length()) {
    const char* current = block.CStr() + at;
    const int32_t length = (int32_t)strlen(current);
    if (current[0] != '=') {
      const int order = CompareEntryNames(current, entry.CStr());
      if (order == 0) {
        block.Replace(at, length + 1, "", 0);
        insertAt = at;
        break;
      }
      if (order > 0) {
        insertAt = at;
        break;
      }
    }
    at += length + 1;
  }
  if (insertAt < 0) insertAt = block.Length();
  entry.AppendChar('\0');
  block.Insert(insertAt, entry.CStr(), entry.Length());
}
