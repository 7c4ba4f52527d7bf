#include "core/path.h"

#include <string.h>

#include "core/string_chars.h"

using string_chars::IsAsciiLetter;

namespace {

// Index of the separator DirectoryOf uses, or -1.
int32_t DirectorySeparator(const char* path, int32_t length) {
  int32_t limit = length;
  bool quoted = false;
  for (int32_t i = 0; i < length; ++i) {
    if (path[i] == '"') quoted = !quoted;
    if (path[i] == ';' && !quoted) {
      limit = i;
      break;
    }
  }
  for (int32_t i = limit - 1; i >= 0; --i)
    if (path[i] == '\\') return i;
  const char* colon = (const char*)memchr(path, ':', (size_t)length);
  return colon ? (int32_t)(colon - path) : -1;
}

}  // namespace

String JoinPath(const char* directory, const char* name) {
  String dir(directory);
  if (!name || !*name) return dir;
  if (dir.IsEmpty()) return String(name);
  if (name[0] == '\\') {
    dir.StripLastChar('\\');
  } else if (!dir.EndsWithChar(':') && !dir.EndsWithChar('\\')) {
    dir.AppendChar('\\');
  }
  dir.Append(name);
  return dir;
}

String DirectoryOf(const char* path) {
  String result;
  int32_t length = path ? (int32_t)strlen(path) : 0;
  int32_t at = DirectorySeparator(path ? path : "", length);
  if (at < 0) return result;
  bool keep = path[at] == ':' || (at > 0 && path[at - 1] == ':');
  result.Assign(path, keep ? at + 1 : at);
  return result;
}

String FileNameOf(const char* path) {
  if (!path) return String();
  const char* slash = strrchr(path, '\\');
  if (slash) return String(slash + 1);
  const char* colon = strchr(path, ':');
  return String(colon ? colon + 1 : path);
}

void CutAfterLastSeparator(String& path) {
  int32_t at = DirectorySeparator(path.CStr(), path.Length());
  if (at >= 0) path.Truncate(at + 1);
}

char DriveOf(const char* path) {
  if (!path || !IsAsciiLetter(path[0]) || path[1] != ':') return '\0';
  return (path[0] >= 'a') ? (char)(path[0] - 'a' + 'A') : path[0];
}

String DriveText(char letter) {
  String text;
  if (!IsAsciiLetter(letter)) return text;
  text.AppendChar(letter);
  text.AppendChar(':');
  return text;
}
