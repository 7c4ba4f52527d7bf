#include "uninstall/uninstall_rules.h"

#include <string.h>

#include "core/format.h"
#include "core/path.h"
#include "core/string_chars.h"

using string_chars::FoldAscii;
using string_chars::IsAsciiLetter;

namespace {

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int32_t SkipBlanks(const String& text, int32_t i) {
  while (i < text.Length() && IsBlankChar(text.CharAt(i))) ++i;
  return i;
}

// Reads the quoted section starting at text[i] == '"' into out (doubled
// quotes collapsed) and returns the position after its closing quote, or the
// end of the text for an unterminated section.
int32_t ReadQuoted(const String& text, int32_t i, String& out) {
  out.Clear();
  const char* p = text.CStr();
  const int32_t n = text.Length();
  ++i;
  int32_t run = i;
  while (i < n) {
    if (p[i] != '"') {
      ++i;
      continue;
    }
    if (i + 1 < n && p[i + 1] == '"') {
      out.Append(p + run, i + 1 - run);
      i += 2;
      run = i;
      continue;
    }
    out.Append(p + run, i - run);
    return i + 1;
  }
  out.Append(p + run, i - run);
  return n;
}

// The path trimmed, without trailing backslashes (a drive root keeps its
// own), ASCII letters folded.
String NormalizedPath(const char* path) {
  String out(path);
  out.Trim();
  while (out.Length() > 3 && out.EndsWithChar('\\')) out.DeleteLast(1);
  for (int32_t i = 0; i < out.Length(); ++i) out.At(i) = FoldAscii(out.CharAt(i));
  return out;
}

// Length of the root part of an absolute path: 3 for "X:\", the length of
// "\\server\share" (with its backslash when present) for a network path;
// 0 when the path is not absolute.
int32_t RootLength(const String& path) {
  if (path.Length() >= 3 && IsAsciiLetter(path.CharAt(0)) && path.CharAt(1) == ':' && path.CharAt(2) == '\\')
    return 3;
  if (path.Length() >= 2 && path.CharAt(0) == '\\' && path.CharAt(1) == '\\') {
    const int32_t server = path.FindChar('\\', 2);
    if (server <= 2) return 0;  // no server name
    const int32_t share = path.FindChar('\\', server + 1);
    if (share < 0) return server + 1 < path.Length() ? path.Length() : 0;
    if (share == server + 1) return 0;  // empty share name
    return share + 1;
  }
  return 0;
}

// True when some component of path[from, end) is "." or "..".
bool HasDotComponent(const String& path, int32_t from) {
  int32_t start = from;
  for (int32_t i = from; i <= path.Length(); ++i) {
    if (i < path.Length() && path.CharAt(i) != '\\' && path.CharAt(i) != '/') continue;
    const int32_t n = i - start;
    if ((n == 1 && path.CharAt(start) == '.') || (n == 2 && path.CharAt(start) == '.' && path.CharAt(start + 1) == '.'))
      return true;
    start = i + 1;
  }
  return false;
}

// A path for the batch: '%' doubled, because the interpreter expands
// variables in batch lines even inside double quotes.
String BatchPath(const char* path) {
  String out(path);
  out.ReplaceAll("%", "%%");
  return out;
}

}  // namespace

uint64_t ParseProductFlags(const char* text) {
  const char* end = nullptr;
  const int64_t value = ParseInt64(text, &end);
  if (value != kParseInt64Failed) return (uint64_t)value;
  // ParseInt64 reports overflow with the same pattern as the smallest
  // number, which is a valid flag word (bit 63 alone).
  String digits(text);
  digits.Trim();
  return digits.Compare("-9223372036854775808") == 0 ? 0x8000000000000000ull : 0;
}

bool NextFontPair(const String& text, int32_t* position, String& fontName, String& fileName) {
  int32_t i = SkipBlanks(text, *position < 0 ? 0 : *position);
  if (i >= text.Length() || text.CharAt(i) != '"') {
    *position = text.Length();
    return false;
  }
  i = ReadQuoted(text, i, fontName);
  i = SkipBlanks(text, i);
  if (i >= text.Length() || text.CharAt(i) != '"') {
    *position = text.Length();
    return false;
  }
  *position = ReadQuoted(text, i, fileName);
  return true;
}

bool IsPlainFileName(const char* name) {
  if (!name || !*name) return false;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  return strpbrk(name, "\\/:") == nullptr;
}

UninstallLineKind ClassifyUninstallLine(const String& line, String& path) {
  path.Clear();
  if (line.IsBlank()) return kUninstallLineEmpty;
  const char first = line.CharAt(0);
  if (first == '~' || first == '!') {
    line.Mid(path, 1, kWholeText);
    return first == '~' ? kUninstallLineDirectory : kUninstallLineClassKey;
  }
  path = line;
  return kUninstallLineFile;
}

bool IsDeletableClassKey(const char* path) {
  String key(path);
  if (key.IsBlank() || key.StartsWithChar('\\')) return false;
  if (key.Find("\\\\") >= 0) return false;
  return true;
}

bool IsAssociationClassKey(const char* path, const Array<UninstallAssociation>& associations) {
  if (!IsDeletableClassKey(path)) return false;
  for (const UninstallAssociation& a : associations) {
    if (!IsDeletableClassKey(a.fileType.CStr())) continue;
    const String shell = JoinPath(a.fileType.CStr(), "shell");
    const String verb = JoinPath(shell.CStr(), a.verb.CStr());
    const String named[] = {a.extension, a.fileType, JoinPath(a.fileType.CStr(), "DefaultIcon"), shell, verb,
                            JoinPath(verb.CStr(), "command")};
    for (const String& key : named)
      if (!key.IsBlank() && SamePath(path, key.CStr())) return true;
  }
  return false;
}

String InstallDriveRoot(const char* installLocation) {
  const char* p = installLocation ? installLocation : "";
  if (!IsAsciiLetter(p[0]) || p[1] != ':') return String();
  String root(p, 2);
  if (p[2] == '\\') root.AppendChar('\\');
  return root;
}

bool SamePath(const char* a, const char* b) { return NormalizedPath(a).Equals(NormalizedPath(b)); }

bool ParentDirectory(const String& path, String& parent) {
  String current(path);
  while (current.Length() > 3 && current.EndsWithChar('\\')) current.DeleteLast(1);
  const int32_t slash = current.FindLastChar('\\');
  if (slash < 0) return false;
  // "X:\" and a bare "\\server\share" have no parent the walks may use.
  if (current.Length() <= 3) return false;
  if (slash == 2 && current.CharAt(1) == ':') {
    current.Mid(parent, 0, 3);
    return true;
  }
  if (slash < 2) return false;
  current.Mid(parent, 0, slash);
  return true;
}

TreeRemovalRefusal CheckTreeRemoval(const char* installLocation, const Array<String>& protectedFolders) {
  String location = NormalizedPath(installLocation);
  const int32_t root = RootLength(location);
  if (root == 0) return kTreeRemovalNotAbsolute;
  if (HasDotComponent(location, root)) return kTreeRemovalDotComponent;
  // Anything that is only a root (with or without its backslash) holds the
  // whole drive or share.
  String remainder;
  location.Mid(remainder, root, kWholeText);
  remainder.Trim("\\");
  if (remainder.IsEmpty()) return kTreeRemovalRoot;
  for (int32_t i = 0; i < protectedFolders.Count(); ++i) {
    String folder = NormalizedPath(protectedFolders[i].CStr());
    if (folder.IsBlank()) continue;
    if (folder.Equals(location)) return kTreeRemovalSystemFolder;
    // The location holds the folder when the folder's path continues the
    // location's path at a separator.
    if (folder.Length() > location.Length() &&
        strncmp(folder.CStr(), location.CStr(), (size_t)location.Length()) == 0 &&
        folder.CharAt(location.Length()) == '\\')
      return kTreeRemovalSystemFolder;
  }
  return kTreeRemovalAllowed;
}

String SelfDeleteBatchText(const char* programPath, const char* uninstallSubdir, const char* uninstallDir,
                           const char* installDir, const char* batchPath, const char* batchDir) {
  const String program = BatchPath(programPath);
  String text;
  Format(text, ":Repeat\r\ndel \"%s\"\r\nif exist \"%s\" goto Repeat\r\n", program.CStr(), program.CStr());
  if (uninstallSubdir && *uninstallSubdir) AppendFormat(text, "rd \"%s\"\r\n", BatchPath(uninstallDir).CStr());
  AppendFormat(text, "rd \"%s\"\r\n", BatchPath(installDir).CStr());
  AppendFormat(text, "del \"%s\" & rd \"%s\"\r\n", BatchPath(batchPath).CStr(), BatchPath(batchDir).CStr());
  return text;
}
