#include <windows.h>

#include "core/path.h"

String WindowsDir() {
  char buffer[MAX_PATH];
  UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
  return (n == 0 || n >= sizeof buffer) ? String() : String(buffer, (int32_t)n);
}

String ModulePath() {
  char buffer[501];
  DWORD n = GetModuleFileNameA(nullptr, buffer, 500);
  return (n == 0 || n >= 500) ? String() : String(buffer, (int32_t)n);
}
