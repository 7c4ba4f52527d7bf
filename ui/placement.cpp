#include "ui/placement.h"

#include <windows.h>
#include <stdint.h>

namespace {

// Places the window in the column and row (0 left/top, 1 centre, 2
// right/bottom) of the screen. The placement is reckoned with the window cut
// down to the screen, so a larger window keeps its top left corner on it;
// the cut size is applied unless flags hold SWP_NOSIZE.
void PlaceOnScreen(HWND w, int column, int row, UINT flags) {
  RECT r;
  if (!GetWindowRect(w, &r)) return;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width > screenWidth) width = screenWidth;
  if (height > screenHeight) height = screenHeight;
  SetWindowPos(w, nullptr, column * (screenWidth - width) / 2, row * (screenHeight - height) / 2, width, height,
               flags | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// A window larger than the screen is cut down to it, so all of it can be
// seen; the move repaints it.
void CenterOnScreen(void* window) { PlaceOnScreen(static_cast<HWND>(window), 1, 1, 0); }

void PlaceByDialogPosition(void* window, uint32_t position) {
  static const struct {
    signed char column, row;
  } kPlaces[] = {{1, 1}, {0, 0}, {1, 0}, {2, 0}, {0, 2}, {1, 2}, {2, 2}, {0, 1}, {2, 1}};
  if (position >= sizeof kPlaces / sizeof kPlaces[0]) return;
  PlaceOnScreen(static_cast<HWND>(window), kPlaces[position].column, kPlaces[position].row, SWP_NOSIZE);
}
