// Where the runtime's windows appear on the screen.
#pragma once
#include <stdint.h>

// Centres a window on the screen, first cutting its width and height down to
// the screen's; the window is repainted. Nothing for a handle that is not a
// window. Every dialog but the progress dialog is placed so.
void CenterOnScreen(void* window);

// Moves a window within the screen as position (the setting DialogPosition)
// says:
// 0 centred, 1 top left, 2 top centre, 3 top right, 4 bottom left, 5 bottom
// centre, 6 bottom right, 7 left edge and 8 right edge (both vertically
// centred); any other value leaves it where it is. A window larger than the
// screen keeps its top left corner on the screen. Used by the progress
// dialog only.
void PlaceByDialogPosition(void* window, uint32_t position);
