#include <windows.h>

#include "core/path.h"
#include "core/process.h"

namespace {

String FindCommandInterpreter() {
  char buffer[MAX_PATH];
  DWORD n = ExpandEnvironmentStringsA("%comspec%", buffer, sizeof buffer);
  String path;
  // An unset variable expands to itself; that is no interpreter either.
  if (n > 0 && n <= sizeof buffer && String(buffer).CompareNoCase("%comspec%") != 0) path.Assign(buffer);
  if (path.IsBlank()) path = JoinPath(WindowsDir().CStr(), "command.com");
  if (path.FindFirstOf(kBlankChars) >= 0) path.Quote();
  return path;
}

}  // namespace

const String& CommandInterpreter() {
  static String interpreter = FindCommandInterpreter();
  return interpreter;
}
