#include <windows.h>

#include "core/cformat.h"
#include "core/win32/system_error.h"

String SystemErrorText(uint32_t code) {
  char buffer[1024];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  String text;
  if (n > 0 && n < sizeof buffer) text.Assign(buffer, (int32_t)n);
  text.TrimRight();
  if (text.IsEmpty()) {
    BoundedFormat(buffer, sizeof buffer, "Error %lu", (unsigned long)code);
    text.Assign(buffer);
  }
  return text;
}

String LastErrorText() {
  const DWORD code = GetLastError();
  return code ? SystemErrorText(code) : String();
}
