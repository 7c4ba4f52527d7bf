// Where the runtime's windows appear on the screen.
#pragma once

// Centres a window on the screen (its size unchanged); nothing for a handle
// that is not a window.
void CenterOnScreen(void* window);
