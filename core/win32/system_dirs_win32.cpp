#include <windows.h>

#include "core/path.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"

namespace {
constexpr DWORD kDirectoryBuffer = MAX_PATH;  // 260 characters
constexpr DWORD kModuleNameLimit = 500;
}  // namespace

String WindowsDir() {
  char buffer[kDirectoryBuffer];
  UINT n = GetWindowsDirectoryA(buffer, kDirectoryBuffer);
  return (n == 0 || n >= kDirectoryBuffer) ? String() : String(buffer, (int32_t)n);
}

String SystemDir() {
  char buffer[kDirectoryBuffer];
  UINT n = GetSystemDirectoryA(buffer, kDirectoryBuffer);
  if (n > 0 && n < kDirectoryBuffer) return String(buffer, (int32_t)n);
  return JoinPath(WindowsDir().CStr(), IsNtPlatform() ? "System32" : "System");
}

String TempDir() {
  char buffer[kDirectoryBuffer];
  DWORD n = GetTempPathA(kDirectoryBuffer, buffer);
  // A result that does not fit reports the size it needs; treat it as none.
  String dir = (n == 0 || n >= kDirectoryBuffer) ? String("c:\\temp") : String(buffer, (int32_t)n);
  dir.StripLastChar('\\');
  return dir;
}

String ModulePath() {
  // One character more than the limit: a name of exactly 500 characters
  // fits with its NUL; a longer one fills the buffer and is refused.
  char buffer[kModuleNameLimit + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return (n == 0 || n > kModuleNameLimit) ? String() : String(buffer, (int32_t)n);
}
