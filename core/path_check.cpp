#include "core/path_check.h"

#include <string.h>

#include "core/string_chars.h"

using string_chars::IsAsciiLetter;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* SkipBlanks(const char* text) {
  while (*text && IsBlank(*text)) ++text;
  return text;
}

// "X:" at the start.
bool HasDrive(const char* text) { return IsAsciiLetter(text[0]) && text[1] == ':'; }

}  // namespace

const char kForbiddenNameChars[] = "/\"<>|*?:;";
const char kForbiddenNameCharsStar[] = "/\"<>|?:;";
const char kForbiddenNameCharsWildcards[] = "/\"<>|:;";

bool IsValidFileName(const char* name) {
  if (!name || !*name) return false;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  for (const unsigned char* p = (const unsigned char*)name; *p; ++p)
    if (*p < 32 || strchr(kForbiddenNameChars, *p)) return false;
  return true;
}

bool IsAbsolutePath(const char* text) {
  if (!text) return false;
  text = SkipBlanks(text);
  if (text[0] == '\\' && text[1] == '\\') return true;
  return HasDrive(text) && text[2] == '\\';
}

bool IsValidPathText(const char* text, uint32_t flags) {
  String work(text);
  if (flags & kPathTrim) work.Trim();
  work.Unquote('"');
  if (work.IsEmpty()) return false;
  const char* forbidden = (flags & kPathAllowWildcards) ? kForbiddenNameCharsWildcards
                          : (flags & kPathAllowStar)    ? kForbiddenNameCharsStar
                                                        : kForbiddenNameChars;
  const char* p = work.CStr();
  const char* end = p + work.Length();
  if (work.Length() >= 2 && p[1] == ':') {
    if (!IsAsciiLetter(p[0])) return false;
    // The drive's colon is allowed; the letter is checked below like any
    // other character (a letter is never forbidden).
    for (const char* q = p; q < end; ++q)
      if (q != p + 1 && (*q == '\0' || strchr(forbidden, *q))) return false;
    return true;
  }
  for (const char* q = p; q < end; ++q)
    if (*q == '\0' || strchr(forbidden, *q)) return false;
  return true;
}

bool MakeAbsolute(String& path, const char* base) {
  path.Trim();
  if (path.IsEmpty()) return false;
  const char* b = SkipBlanks(base ? base : "");
  if (b[0] != '\\' && !IsAbsolutePath(b)) return false;
  const char* p = path.CStr();
  if (p[0] == '\\' && p[1] == '\\') return false;
  const bool pathHasDrive = HasDrive(p);
  if (pathHasDrive && p[2] == '\\') return false;

  const size_t baseLength = strlen(b);
  const bool baseEndsWithSeparator = baseLength > 0 && b[baseLength - 1] == '\\';
  if (p[0] == '\\') {
    if (!HasDrive(b)) return false;
    path.Insert(0, b, 2);
    return true;
  }
  if (pathHasDrive) {
    if (!HasDrive(b)) return false;
    String middle(b + 2);
    if (!baseEndsWithSeparator) middle.AppendChar('\\');
    path.Insert(2, middle.CStr(), middle.Length());
    return true;
  }
  String completed(b);
  if (!baseEndsWithSeparator) completed.AppendChar('\\');
  completed.Append(path);
  path = static_cast<String&&>(completed);
  return true;
}

bool IsSafeLinkName(const char* name) {
  String text = name;
  if (text.IsEmpty() || text.StartsWithChar('\\') || text.FindChar(':') >= 0) return false;
  while (!text.IsEmpty()) {
    String part;
    text.SplitAtChar(part, '\\');
    part.Trim();
    if (part.Compare("..") == 0) return false;
  }
  return true;
}
