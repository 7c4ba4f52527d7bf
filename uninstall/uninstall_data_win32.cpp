#include "uninstall/uninstall_data.h"

#include "core/win32/file_util.h"

void ReadUninstallData(const char* path, UninstallDataContents& out) {
  String text;
  (void)ReadFileToString(path, text);  // a missing or unreadable file reads as empty
  ParseUninstallData(text, out);
}
