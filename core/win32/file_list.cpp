#include "core/win32/file_list.h"

#include <string.h>

#include "core/cformat.h"
#include "core/path.h"
#include "core/path_check.h"

bool StripRecursiveMarker(String& text) {
  const int32_t n = text.Length();
  if (n < 3) return false;
  const char* t = text.CStr();
  if (t[n - 3] != ' ' || t[n - 2] != '/' || (t[n - 1] != 's' && t[n - 1] != 'S')) return false;
  text.Truncate(n - 3);
  return true;
}

void StripExtension(String& path) {
  const int32_t slash = path.FindLastChar('\\');
  const int32_t dot = path.FindLastChar('.');
  if (dot > slash) path.Truncate(dot);
}

void SplitSpecLine(const String& line, String& directory, String& names) {
  directory = DirectoryOf(line.CStr());
  // A separator at the very start leaves DirectoryOf nothing to keep: the
  // directory is then the root "\" of the current drive.
  if (directory.IsEmpty() && line.StartsWithChar('\\')) {
    directory = "\\";
    line.Mid(names, 1, kWholeText);
    return;
  }
  if (directory.IsEmpty()) {
    names = line;
    return;
  }
  // The separator follows the directory text, unless the directory kept it
  // (a ':' or a '\' after ':'), in which case the names start right there.
  int32_t start = directory.Length();
  if (!directory.EndsWithChar(':') && !(directory.EndsWithChar('\\') && directory.Length() >= 2 &&
                                        directory.CharAt(directory.Length() - 2) == ':'))
    ++start;
  line.Mid(names, start, kWholeText);
}

String SpecLinePart(int32_t lineNumber, bool singleLine, uint32_t flags) {
  if ((flags & kSpecNoLineNumbers) || singleLine) return String();
  char buffer[32];
  BoundedFormat(buffer, sizeof buffer, "on line %d ", (int)lineNumber);
  return String(buffer);
}
