#include "ui/placement.h"

#include <windows.h>
#include <stdint.h>

void CenterOnScreen(void* window) {
  HWND w = static_cast<HWND>(window);
  RECT r;
  if (!GetWindowRect(w, &r)) return;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  int width = r.right - r.left, height = r.bottom - r.top;
  // A window larger than the screen is cut down to it, so all of it can be seen.
  if (width > screenWidth) width = screenWidth;
  if (height > screenHeight) height = screenHeight;
  int x = (screenWidth - width) / 2, y = (screenHeight - height) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  MoveWindow(w, x, y, width, height, TRUE);
}

void PlaceByDialogPosition(void* window, uint32_t position) {
  HWND w = static_cast<HWND>(window);
  RECT r;
  if (!GetWindowRect(w, &r)) return;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int left = 0, centre = (screenWidth - width) / 2, right = screenWidth - width;
  const int top = 0, middle = (screenHeight - height) / 2, bottom = screenHeight - height;
  static const struct {
    signed char column, row;  // 0 left/top, 1 centre/middle, 2 right/bottom
  } kPlaces[] = {{1, 1}, {0, 0}, {1, 0}, {2, 0}, {0, 2}, {1, 2}, {2, 2}, {0, 1}, {2, 1}};
  if (position >= sizeof kPlaces / sizeof kPlaces[0]) return;
  const int xs[3] = {left, centre, right}, ys[3] = {top, middle, bottom};
  int x = xs[(int)kPlaces[position].column], y = ys[(int)kPlaces[position].row];
  // A dialog larger than the screen keeps its top left corner on the screen.
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
