#include <windows.h>

#include "core/win32/message_pump.h"

namespace {

constexpr int32_t kMaxPumpedMessages = 100;

HWND g_pumpDialog;

bool IsClosingMessage(UINT message) { return message == WM_DESTROY || message == WM_CLOSE || message == WM_QUIT; }

// The dialog manager's share: the pump dialog's own messages and its
// controls'.
bool HandledByDialog(MSG& msg) {
  return g_pumpDialog && IsWindow(g_pumpDialog) && IsDialogMessageA(g_pumpDialog, &msg);
}

}  // namespace

void SetPumpDialog(void* dialog) { g_pumpDialog = static_cast<HWND>(dialog); }

PumpResult PumpPending(int32_t limit, uint32_t stops) {
  PumpResult result;
  MSG msg;
  while (result.handled < limit) {
    if ((stops & kPumpStopWhenQuitting) && IsQuitting()) break;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    if (!HandledByDialog(msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    ++result.handled;
    if (IsClosingMessage(msg.message)) {
      result.sawClose = true;
      if (stops & kPumpStopAtClose) break;
    }
  }
  return result;
}

int32_t PumpSomeMessages() { return PumpPending(kMaxPumpedMessages, kPumpStopWhenQuitting).handled; }
