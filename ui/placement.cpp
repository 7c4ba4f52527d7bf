#include "ui/placement.h"

#include <windows.h>

void CenterOnScreen(void* window) {
  HWND w = static_cast<HWND>(window);
  RECT r;
  if (!GetWindowRect(w, &r)) return;
  int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
