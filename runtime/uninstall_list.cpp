#include "runtime/uninstall_list.h"

#include "core/containers.h"

namespace {

String g_uninstallList;
String g_associationLog;

// The recorded directory and class-key names, upper-cased. The kind character
// is part of the key, so a directory and a class key of the same text are
// told apart.
HashTable<bool, String>& RecordedNames() {
  static HashTable<bool, String> names(64);
  return names;
}

}  // namespace

bool AddUninstallEntry(const char* path, int32_t kind) {
  String text(path);
  if (text.Length() < 4) return false;
  char prefix = 0;
  if (kind == kUninstallDirectory) {
    prefix = '~';
  } else if (kind == kUninstallClassKey) {
    prefix = '!';
  } else if (kind != kUninstallFile) {
    return false;
  }
  if (prefix) {
    String key(prefix);
    key.Append(text);
    key.UpperCaseAscii();
    if (!RecordedNames().Insert(key, true)) return false;
    g_uninstallList.AppendChar(prefix);
  }
  g_uninstallList.Append(text);
  g_uninstallList.Append("\r\n");
  return true;
}

String& UninstallList() { return g_uninstallList; }

void ClearUninstallList() {
  g_uninstallList.Clear();
  RecordedNames().Clear();
}

String& AssociationLog() { return g_associationLog; }

void AddAssociationLogLine(const char* extension, const char* fileType, const char* verb) {
  g_associationLog.Append(extension);
  g_associationLog.Append("~!~");
  g_associationLog.Append(fileType);
  g_associationLog.Append("~!~");
  g_associationLog.Append(verb);
  g_associationLog.Append("\r\n");
}
