#include "runtime/uninstall_list.h"

namespace {

// An installation records directories by the hundred; the table never grows.
constexpr int32_t kRecordedNameBuckets = 64;

}  // namespace

bool UninstallRecord::Add(const char* path, int32_t kind) {
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
    recordedNames_.ReserveBuckets(kRecordedNameBuckets);
    if (!recordedNames_.Insert(key, true)) return false;
    list_.AppendChar(prefix);
  }
  list_.Append(text);
  list_.Append("\r\n");
  return true;
}

void UninstallRecord::Clear() {
  list_.Clear();
  recordedNames_.Clear();
}

void UninstallRecord::AddAssociation(const char* extension, const char* fileType, const char* verb) {
  associationLog_.Append(extension);
  associationLog_.Append("~!~");
  associationLog_.Append(fileType);
  associationLog_.Append("~!~");
  associationLog_.Append(verb);
  associationLog_.Append("\r\n");
}
